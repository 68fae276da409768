// Settings store: placeholders, persistence, fallback keys, the cache slots
// of the typed accessors (also from several threads), start-up warnings.
#include "core/messagepresenter.h"
#include "core/profile.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

#include "testthread.h"
#include "testtime.h"

namespace {

const QStringList connectionNames = {"profile.db", "data.db", "qc.db", "syslog.db"};

// Creates an SQLite file with one table through a private connection.
void makeDatabase(const QString& file, const QString& createSql, const QList<QPair<QString, QVariant>>& rows = {})
{
    const QString conn = QStringLiteral("setup-") + file;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", conn);
        db.setDatabaseName(file);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        QVERIFY2(q.exec(createSql), qPrintable(q.lastError().text()));
        for (const auto& row : rows) {
            QVERIFY(q.prepare("insert into profile (name, value) values (?, ?)"));
            q.addBindValue(row.first);
            q.addBindValue(row.second);
            QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase(conn);
}

// The row as it is in the settings file, read through a private connection.
QVariant storedRow(const QString& file, const QString& key, bool* found = nullptr)
{
    const QString conn = QStringLiteral("check");
    QVariant result;
    bool present = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", conn);
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            q.prepare("select value from profile where name = ?");
            q.addBindValue(key);
            if (q.exec() && q.next()) {
                present = true;
                result = q.value(0);
            }
        }
    }
    QSqlDatabase::removeDatabase(conn);
    if (found)
        *found = present;
    return result;
}

} // namespace

class tst_Profile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void placeholderForAbsentKey();
    void loadsRowsWithStoredTypes_data();
    void loadsRowsWithStoredTypes();
    void saveTrueSurvivesRestart_data();
    void saveTrueSurvivesRestart();
    void saveFalseChangesMemoryOnly();
    void invalidValueDeletesRow();
    void removeDeletesRowAndKey();
    void value2Fallback_data();
    void value2Fallback();
    void firstDefaultIsCached();
    void typedSetterStoresAndCaches();
    void typedConversions_data();
    void typedConversions();
    void connectionNames();
    void writeFromWorkerThreadIsQueued();
    void startupWarnings_data();
    void startupWarnings();
    void typedAccessorsFromManyThreads();
    void valueAndSetValueFromManyThreads();

private:
    void openStore(const QString& file = "profile.db");
    void closeStore();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<tq::MessageRecorder> m_boxes;
    std::unique_ptr<Profile> m_store;
    QString m_oldCwd;
};

void tst_Profile::init()
{
    m_oldCwd = QDir::currentPath();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
    makeDatabase("profile.db", "create table profile (name text primary key, value)",
                 {{"old", 4},
                  {"text", "abc"},
                  {"integer", 42},
                  {"real", 2.5},
                  {"blob", QByteArray("\x01\x02", 2)},
                  {"invalid", QVariant()},
                  {"empty", QString("")}});
    makeDatabase("data.db", "create table patient (sampleNo text, date text)");
    makeDatabase("qc.db", "create table qc (id integer)");
    makeDatabase("syslog.db", "create table log (id integer)");
    m_boxes = std::make_unique<tq::MessageRecorder>();
}

void tst_Profile::cleanup()
{
    closeStore();
    m_boxes.reset();
    QDir::setCurrent(m_oldCwd);
    m_dir.reset();
}

void tst_Profile::openStore(const QString& file)
{
    m_store = std::make_unique<Profile>(file);
}

// The connection names are fixed: the store must be gone and its
// connections removed before the next one opens them again.
void tst_Profile::closeStore()
{
    m_store.reset();
    for (const QString& name : ::connectionNames)
        QSqlDatabase::removeDatabase(name);
}

void tst_Profile::placeholderForAbsentKey()
{
    openStore();
    QVERIFY(!m_store->keys().contains("k"));
    QCOMPARE(m_store->value("k", 5), QVariant(5));
    QVERIFY(m_store->keys().contains("k"));
    QCOMPARE(m_store->value("k", 7), QVariant(7));
    QCOMPARE(m_store->value("k"), QVariant());
    bool found = true;
    storedRow("profile.db", "k", &found);
    QVERIFY2(!found, "a read must not write to the database");
    QVERIFY(m_boxes->texts().isEmpty());
}

void tst_Profile::loadsRowsWithStoredTypes_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<int>("type");
    QTest::newRow("integer -> 64-bit") << "integer" << QVariant(qlonglong(42)) << int(QMetaType::LongLong);
    QTest::newRow("real -> double") << "real" << QVariant(2.5) << int(QMetaType::Double);
    QTest::newRow("text -> string") << "text" << QVariant("abc") << int(QMetaType::QString);
    QTest::newRow("empty text stays") << "empty" << QVariant(QString("")) << int(QMetaType::QString);
    QTest::newRow("NULL -> default") << "invalid" << QVariant("default") << int(QMetaType::QString);
    QTest::newRow("blob -> bytes") << "blob" << QVariant(QByteArray("\x01\x02", 2)) << int(QMetaType::QByteArray);
}

void tst_Profile::loadsRowsWithStoredTypes()
{
    QFETCH(QString, key);
    QFETCH(QVariant, expected);
    QFETCH(int, type);
    openStore();
    QVERIFY(m_store->keys().contains(key));
    const QVariant v = m_store->value(key, "default");
    QCOMPARE(v.typeId(), type);
    QCOMPARE(v, expected);
}

void tst_Profile::saveTrueSurvivesRestart_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("int") << QVariant(17);
    QTest::newRow("double") << QVariant(0.125);
    QTest::newRow("string") << QVariant(QStringLiteral("凝血"));
    QTest::newRow("replaces old row") << QVariant(QStringLiteral("new"));
}

void tst_Profile::saveTrueSurvivesRestart()
{
    QFETCH(QVariant, value);
    openStore();
    m_store->setValue("old", value, true);
    QCOMPARE(m_store->value("old"), value);
    closeStore();
    openStore();
    QCOMPARE(m_store->value("old").toString(), value.toString());
}

void tst_Profile::saveFalseChangesMemoryOnly()
{
    openStore();
    m_store->setValue("old", "memory only", false);
    QCOMPARE(m_store->value("old"), QVariant("memory only"));
    QCOMPARE(storedRow("profile.db", "old"), QVariant(qlonglong(4)));
    closeStore();
    openStore();
    QCOMPARE(m_store->value("old"), QVariant(qlonglong(4)));
}

void tst_Profile::invalidValueDeletesRow()
{
    openStore();
    m_store->setValue("old", QVariant(), true);
    bool found = true;
    storedRow("profile.db", "old", &found);
    QVERIFY(!found);
    QVERIFY(m_store->keys().contains("old"));
    QCOMPARE(m_store->value("old", 9), QVariant(9));
}

void tst_Profile::removeDeletesRowAndKey()
{
    openStore();
    QSignalSpy removed(m_store.get(), &Profile::keyRemoved);
    m_store->remove("text");
    QCOMPARE(removed.count(), 1);
    QVERIFY(!m_store->keys().contains("text"));
    bool found = true;
    storedRow("profile.db", "text", &found);
    QVERIFY(!found);
    QCOMPARE(m_store->value("text", "gone"), QVariant("gone"));
}

void tst_Profile::value2Fallback_data()
{
    QTest::addColumn<QString>("newKey");
    QTest::addColumn<QString>("oldKey");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("new absent, old holds 4") << "absent"
                                             << "old" << QVariant(qlonglong(4));
    QTest::newRow("new invalid, old holds 4") << "invalid"
                                              << "old" << QVariant(qlonglong(4));
    QTest::newRow("new holds a value") << "text"
                                       << "old" << QVariant("abc");
    QTest::newRow("neither exists") << "absent"
                                    << "absent too" << QVariant("default");
}

void tst_Profile::value2Fallback()
{
    QFETCH(QString, newKey);
    QFETCH(QString, oldKey);
    QFETCH(QVariant, expected);
    openStore();
    QCOMPARE(m_store->value2(newKey, oldKey, "default"), expected);
}

void tst_Profile::firstDefaultIsCached()
{
    openStore();
    QCOMPARE(m_store->hospital("A"), QString("A"));
    QCOMPARE(m_store->hospital("B"), QString("A"));
    // The slot is not refreshed by the generic setter ...
    m_store->setValue("hospital", "C", false);
    QCOMPARE(m_store->hospital("B"), QString("A"));
    QCOMPARE(m_store->value("hospital"), QVariant("C"));
    // ... only by its own.
    m_store->set_hospital("D", false);
    QCOMPARE(m_store->hospital("B"), QString("D"));
    QCOMPARE(m_store->value("hospital"), QVariant("D"));
}

void tst_Profile::typedSetterStoresAndCaches()
{
    openStore();
    m_store->set_is_touch_screen(true, true);
    bool found = false;
    const QVariant row = storedRow("profile.db", "is_touch_screen", &found);
    QVERIFY(found);
    QVERIFY(row.toBool());
    QCOMPARE(m_store->is_touch_screen(false), true);
    closeStore();
    openStore();
    QCOMPARE(m_store->is_touch_screen(false), true);
}

void tst_Profile::typedConversions_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("colour name") << "color_of_waiting" << QVariant("#ff0000") << QVariant(QColor(Qt::red));
    QTest::newRow("colour written by setter")
        << "color_of_null_result" << QVariant(QColor(0, 128, 255)) << QVariant(QColor(0, 128, 255));
    QTest::newRow("64-bit int") << "max_qc_file" << QVariant(qlonglong(12)) << QVariant(12);
    QTest::newRow("text int") << "qc_method" << QVariant("3") << QVariant(3);
    QTest::newRow("int bool") << "is_touch_screen" << QVariant(1) << QVariant(true);
    QTest::newRow("text bool") << "is_touch_screen" << QVariant("true") << QVariant(true);
    QTest::newRow("text false") << "is_touch_screen" << QVariant("false") << QVariant(false);
    QTest::newRow("string") << "statim_sample_prefix" << QVariant("E") << QVariant("E");
}

void tst_Profile::typedConversions()
{
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    QFETCH(QVariant, expected);
    openStore();
    m_store->setValue(key, stored, true);
    closeStore();
    openStore(); // a fresh store has empty cache slots
    QVariant got;
    if (key == "color_of_waiting")
        got = m_store->color_of_waiting(Qt::black);
    else if (key == "color_of_null_result")
        got = m_store->color_of_null_result(Qt::black);
    else if (key == "max_qc_file")
        got = m_store->max_qc_file(-1);
    else if (key == "qc_method")
        got = m_store->qc_method(-1);
    else if (key == "is_touch_screen")
        got = m_store->is_touch_screen(!expected.toBool());
    else
        got = m_store->statim_sample_prefix("S");
    QCOMPARE(got, expected);
}

void tst_Profile::connectionNames()
{
    makeDatabase("settings.sqlite", "create table profile (name text primary key, value)",
                 {{"where", "settings.sqlite"}});
    openStore("settings.sqlite");
    QCOMPARE(m_store->database().connectionName(), QString("profile.db"));
    QCOMPARE(m_store->database().databaseName(), QString("settings.sqlite"));
    QCOMPARE(m_store->value("where"), QVariant("settings.sqlite"));
    QCOMPARE(m_store->dataDatabase().connectionName(), QString("data.db"));
    QCOMPARE(m_store->dataDatabase().databaseName(), QString("data.db"));
    QCOMPARE(m_store->qcDatabase().databaseName(), QString("qc.db"));
    QCOMPARE(m_store->syslogDatabase().databaseName(), QString("syslog.db"));
    // A closed connection is opened again by its accessor.
    QSqlDatabase::database("qc.db", false).close();
    QVERIFY(m_store->qcDatabase().isOpen());
}

void tst_Profile::writeFromWorkerThreadIsQueued()
{
    openStore();
    QThread* worker = testsupport::createThread([this] { m_store->setValue("from worker", 99, true); });
    worker->start();
    QVERIFY(testsupport::join(worker, testsupport::scaled(10000)));
    delete worker;
    // Memory at once; the database only when the owning thread runs the
    // queued slot (SQL on the settings connection never runs elsewhere).
    QCOMPARE(m_store->value("from worker"), QVariant(99));
    bool found = true;
    storedRow("profile.db", "from worker", &found);
    QVERIFY(!found);
    QCoreApplication::processEvents();
    QCOMPARE(storedRow("profile.db", "from worker", &found), QVariant(qlonglong(99)));
    QVERIFY(found);
}

void tst_Profile::startupWarnings_data()
{
    QTest::addColumn<QString>("settingsFile");
    QTest::addColumn<QString>("removeFile");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("all present") << "profile.db" << QString() << QStringList();
    QTest::newRow("missing qc.db") << "profile.db"
                                   << "qc.db" << QStringList{"错误的数据库文件 qc.db"};
    QTest::newRow("missing data.db") << "profile.db"
                                     << "data.db" << QStringList{"错误的数据库文件 data.db"};
    QTest::newRow("missing syslog.db") << "profile.db"
                                       << "syslog.db" << QStringList{"错误的数据库文件 syslog.db"};
    QTest::newRow("missing settings file") << "other.db" << QString() << QStringList{"错误的配置文件 other.db"};
    QTest::newRow("settings file cannot be opened")
        << "no/such/dir/p.db" << QString()
        << QStringList{"无法加载配置文件 no/such/dir/p.db\n", "错误的配置文件 no/such/dir/p.db"};
}

void tst_Profile::startupWarnings()
{
    QFETCH(QString, settingsFile);
    QFETCH(QString, removeFile);
    QFETCH(QStringList, expected);
    if (!removeFile.isEmpty())
        QVERIFY(QFile::remove(removeFile));
    openStore(settingsFile);
    // The open error adds the driver's text after the line break.
    const QStringList texts = m_boxes->texts();
    QCOMPARE(texts.size(), expected.size());
    for (int i = 0; i < texts.size(); ++i)
        QVERIFY2(texts.at(i).startsWith(expected.at(i)) && texts.at(i).size() >= expected.at(i).size(),
                 qPrintable(texts.at(i)));
    for (const auto& m : m_boxes->messages())
        QCOMPARE(m.icon, QMessageBox::Warning);
    if (!removeFile.isEmpty())
        QVERIFY2(QFile::exists(removeFile), "SQLite creates the missing file");
    if (settingsFile != "profile.db")
        QVERIFY(m_store->keys().isEmpty());
}

void tst_Profile::typedAccessorsFromManyThreads()
{
    // Every thread asks with its own default at the same moment: all must
    // get the same answer, the default of whichever came first.
    constexpr int threadCount = 8;
    constexpr int rounds = 20;
    for (int round = 0; round < rounds; ++round) {
        closeStore();
        openStore();
        std::atomic<int> ready{0};
        std::atomic<bool> go{false};
        std::vector<QString> hospitals(threadCount);
        std::vector<int> methods(threadCount);
        std::vector<QColor> colours(threadCount);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int i = 0; i < threadCount; ++i) {
            threads.emplace_back(testsupport::createThread([&, i] {
                ++ready;
                while (!go.load())
                    QThread::yieldCurrentThread();
                for (int n = 0; n < 200; ++n) {
                    const QString h = m_store->hospital(QString("H%1").arg(i));
                    const int m = m_store->qc_method(i);
                    const QColor c = m_store->color_of_waiting(QColor(i, i, i));
                    if (n == 0) {
                        hospitals[i] = h;
                        methods[i] = m;
                        colours[i] = c;
                    } else if (h != hospitals[i] || m != methods[i] || c != colours[i]) {
                        hospitals[i] = QStringLiteral("changed");
                    }
                }
            }));
            threads.back()->start();
        }
        while (ready.load() < threadCount)
            QThread::yieldCurrentThread();
        go = true;
        for (auto& t : threads)
            QVERIFY(testsupport::join(t, testsupport::scaled(20000)));
        for (int i = 1; i < threadCount; ++i) {
            QCOMPARE(hospitals[i], hospitals[0]);
            QCOMPARE(methods[i], methods[0]);
            QCOMPARE(colours[i], colours[0]);
        }
        QVERIFY(hospitals[0].startsWith('H'));
    }
}

void tst_Profile::valueAndSetValueFromManyThreads()
{
    // Setters and getters of one slot in parallel: afterwards the slot and
    // the table hold the same value, one of those written.
    openStore();
    constexpr int threadCount = 6;
    std::vector<std::unique_ptr<QThread>> threads;
    std::atomic<bool> bad{false};
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back(testsupport::createThread([&, i] {
            for (int n = 0; n < 2000; ++n) {
                if (i % 2 == 0) {
                    m_store->set_max_qc_file(i * 10000 + n, false);
                    m_store->setValue(QString("key %1").arg(i), n, false);
                } else {
                    const int v = m_store->max_qc_file(-1);
                    if (v != -1 && (v / 10000) % 2 != 0)
                        bad = true;
                    m_store->value(QString("placeholder %1 %2").arg(i).arg(n));
                    m_store->keys();
                }
            }
        }));
        threads.back()->start();
    }
    for (auto& t : threads)
        QVERIFY(testsupport::join(t, testsupport::scaled(30000)));
    QVERIFY(!bad.load());
    QCOMPARE(m_store->max_qc_file(-1), m_store->value("max_qc_file").toInt());
    for (int i = 0; i < threadCount; i += 2)
        QCOMPARE(m_store->value(QString("key %1").arg(i)), QVariant(1999));
    for (int n = 0; n < 2000; n += 499)
        QVERIFY(m_store->keys().contains(QString("placeholder 1 %1").arg(n)));
}

QTEST_GUILESS_MAIN(tst_Profile)
#include "tst_profile.moc"
