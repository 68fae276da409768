#include "placementjournal.h"

#include <QDateTime>
#include <QFile>
#include <QMutexLocker>

#include <sqlite3.h>

namespace {

// A prepared statement that is finalised when it goes out of scope.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql) { m_ok = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) == SQLITE_OK; }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_ok; }
    Statement& bind(int i, qint64 v)
    {
        m_ok = m_ok && sqlite3_bind_int64(m_stmt, i, v) == SQLITE_OK;
        return *this;
    }
    Statement& bind(int i, double v)
    {
        m_ok = m_ok && sqlite3_bind_double(m_stmt, i, v) == SQLITE_OK;
        return *this;
    }
    Statement& bind(int i, const QByteArray& v)
    {
        m_ok = m_ok && sqlite3_bind_blob(m_stmt, i, v.constData(), int(v.size()), SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    Statement& bind(int i, const QString& v)
    {
        const QByteArray utf8 = v.toUtf8();
        m_ok = m_ok && sqlite3_bind_text(m_stmt, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    // One step: true for a row (SQLITE_ROW), false when done or failed (ok() tells).
    bool step()
    {
        if (!m_ok)
            return false;
        const int rc = sqlite3_step(m_stmt);
        m_ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
        return rc == SQLITE_ROW;
    }
    bool run()
    {
        step();
        return m_ok;
    }
    qint64 integer(int col) const { return sqlite3_column_int64(m_stmt, col); }
    double real(int col) const { return sqlite3_column_double(m_stmt, col); }
    QByteArray bytes(int col) const
    {
        const void* p = sqlite3_column_blob(m_stmt, col);
        return p ? QByteArray(static_cast<const char*>(p), sqlite3_column_bytes(m_stmt, col)) : QByteArray();
    }
    QString text(int col) const { return QString::fromUtf8(bytes(col)); }

private:
    sqlite3_stmt* m_stmt = nullptr;
    bool m_ok = false;
};

const char* const testColumns = "testId, session, sample, position, item, dilution, method, state, hasResult, "
                                "value, error, errorText, report, curve, givenIn, reason, channel, flags, place";

PlacementJournal::Test readTest(const Statement& q)
{
    PlacementJournal::Test t;
    t.testId = quint32(q.integer(0));
    t.session = q.integer(1);
    t.sample = q.text(2);
    t.position = q.bytes(3);
    t.item = q.bytes(4);
    t.dilution = int(q.integer(5));
    t.method = q.bytes(6);
    t.state = PlacementJournal::State(q.integer(7));
    t.hasResult = q.integer(8) != 0;
    t.value = q.real(9);
    t.error = int(q.integer(10));
    t.errorText = q.text(11);
    t.report = q.text(12);
    t.curve = q.bytes(13);
    t.givenInSession = q.integer(14);
    t.reason = q.text(15);
    t.channel = int(q.integer(16));
    t.flags = int(q.integer(17));
    t.place = q.text(18);
    return t;
}

QString now()
{
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
}

} // namespace

bool PlacementJournal::Test::sameOrder(const Test& other) const
{
    return sample == other.sample && position == other.position && item == other.item && dilution == other.dilution
           && method == other.method;
}

PlacementJournal::~PlacementJournal()
{
    close();
}

bool PlacementJournal::isOpen() const
{
    QMutexLocker lock(&m_mutex);
    return m_db != nullptr;
}

void PlacementJournal::close()
{
    QMutexLocker lock(&m_mutex);
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
    m_session = 0;
}

QString PlacementJournal::lastError() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("journal not open");
}

bool PlacementJournal::exec(const char* sql, QString* error) const
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    if (error)
        *error = QString::fromUtf8(message ? message : "unknown error");
    sqlite3_free(message);
    return false;
}

bool PlacementJournal::setUp(QString* error)
{
    // FULL in WAL mode syncs the log at every commit: a commit that returned
    // is on the disk.
    return exec("pragma journal_mode=wal", error) && exec("pragma synchronous=full", error)
           && exec("create table if not exists session(id integer primary key, began text, ended text)", error)
           && exec("create table if not exists test(row integer primary key, testId integer, session integer, "
                   "sample text, position blob, item blob, dilution integer, method blob, state integer, "
                   "hasResult integer default 0, value real, error integer, errorText text, report text, "
                   "curve blob, givenIn integer default 0, reason text, updated text, channel integer, flags integer, "
                   "place text)",
                   error)
           && exec("create unique index if not exists test_unreleased on test(testId) where state < 3", error)
           && exec("pragma quick_check", error);
}

bool PlacementJournal::open(const QString& fileName, QString* error, QString* notice)
{
    close();
    QMutexLocker lock(&m_mutex);
    m_fileName = fileName;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QByteArray path = QFile::encodeName(fileName);
        if (sqlite3_open_v2(path.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                            nullptr)
            != SQLITE_OK) {
            *error = QStringLiteral("%1: %2").arg(fileName, lastError());
            sqlite3_close(m_db);
            m_db = nullptr;
            return false;
        }
        sqlite3_busy_timeout(m_db, 5000);
        QString why;
        if (setUp(&why))
            return true;
        const int code = sqlite3_errcode(m_db);
        sqlite3_close(m_db);
        m_db = nullptr;
        // Only a file that is not a database or is damaged is set aside; a
        // folder that cannot be written is the operator's to mend.
        if (attempt > 0
            || (code != SQLITE_NOTADB && code != SQLITE_CORRUPT && !why.contains(QLatin1String("malformed")))) {
            *error = QStringLiteral("%1: %2").arg(fileName, why);
            return false;
        }
        const QString aside = fileName + QStringLiteral(".damaged-")
                              + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
        if (!QFile::rename(fileName, aside)) {
            *error = QStringLiteral("%1 is damaged (%2) and cannot be set aside").arg(fileName, why);
            return false;
        }
        QFile::remove(fileName + QStringLiteral("-wal"));
        QFile::remove(fileName + QStringLiteral("-shm"));
        if (notice)
            *notice = QStringLiteral("%1 was damaged (%2); kept as %3, a new journal begins").arg(fileName, why, aside);
    }
    return false;
}

bool PlacementJournal::beginSession(QString* error)
{
    QMutexLocker lock(&m_mutex);
    // Released tests are kept a while for the support case that asks after
    // them, not for ever: a busy lab journals some 2 000 a day.
    const QString cutoff = QDateTime::currentDateTime().addDays(-keptDays).toString(Qt::ISODateWithMs);
    Statement prune(m_db, "delete from test where state = 3 and updated < ?");
    if (!prune.bind(1, cutoff).run()) {
        *error = lastError();
        return false;
    }
    Statement q(m_db, "insert into session(began) values(?)");
    if (!q.bind(1, now()).run()) {
        *error = lastError();
        return false;
    }
    m_session = sqlite3_last_insert_rowid(m_db);
    return true;
}

qint64 PlacementJournal::lastCleanSession() const
{
    QMutexLocker lock(&m_mutex);
    Statement q(m_db, "select max(id) from session where ended is not null");
    return q.step() ? q.integer(0) : 0;
}

bool PlacementJournal::endSession(QString* error)
{
    QMutexLocker lock(&m_mutex);
    Statement q(m_db, "update session set ended=? where id=?");
    if (!q.bind(1, now()).bind(2, m_session).run()) {
        *error = lastError();
        return false;
    }
    return true;
}

bool PlacementJournal::recordPlacing(const Test& t, QString* error)
{
    QMutexLocker lock(&m_mutex);
    Statement q(m_db, "insert into test(testId, session, sample, position, item, dilution, method, state, updated, "
                      "place) values(?, ?, ?, ?, ?, ?, ?, 0, ?, ?)");
    q.bind(1, qint64(t.testId)).bind(2, m_session).bind(3, t.sample).bind(4, t.position).bind(5, t.item);
    q.bind(6, qint64(t.dilution)).bind(7, t.method).bind(8, now()).bind(9, t.place);
    if (!q.run()) {
        *error = lastError();
        return false;
    }
    return true;
}

bool PlacementJournal::setState(quint32 testId, State state, QString* error)
{
    QMutexLocker lock(&m_mutex);
    Statement q(m_db, "update test set state=?, updated=? where testId=? and state < 3");
    if (!q.bind(1, qint64(state)).bind(2, now()).bind(3, qint64(testId)).run()) {
        *error = lastError();
        return false;
    }
    return true;
}

bool PlacementJournal::recordResult(const Test& t, QString* error)
{
    QMutexLocker lock(&m_mutex);
    Statement q(m_db, "update test set state=2, hasResult=1, session=?, value=?, error=?, errorText=?, report=?, "
                      "curve=?, updated=?, channel=?, flags=? where testId=? and state < 3");
    q.bind(1, m_session).bind(2, t.value).bind(3, qint64(t.error)).bind(4, t.errorText).bind(5, t.report);
    q.bind(6, t.curve).bind(7, now()).bind(8, qint64(t.channel)).bind(9, qint64(t.flags)).bind(10, qint64(t.testId));
    if (!q.run()) {
        *error = lastError();
        return false;
    }
    return true;
}

bool PlacementJournal::markGiven(quint32 testId, QString* error)
{
    QMutexLocker lock(&m_mutex);
    Statement q(m_db, "update test set givenIn=?, updated=? where row=(select max(row) from test where testId=?)");
    if (!q.bind(1, m_session).bind(2, now()).bind(3, qint64(testId)).run()) {
        *error = lastError();
        return false;
    }
    return true;
}

bool PlacementJournal::recordRelease(quint32 testId, const QString& reason, QString* error)
{
    QMutexLocker lock(&m_mutex);
    Statement q(m_db, "update test set state=3, reason=?, updated=? where testId=? and state < 3");
    if (!q.bind(1, reason).bind(2, now()).bind(3, qint64(testId)).run()) {
        *error = lastError();
        return false;
    }
    return true;
}

bool PlacementJournal::changeId(quint32 from, quint32 to, QString* error)
{
    QMutexLocker lock(&m_mutex);
    Statement q(m_db, "update test set testId=?, updated=? where testId=? and state < 3");
    if (!q.bind(1, qint64(to)).bind(2, now()).bind(3, qint64(from)).run()) {
        *error = lastError();
        return false;
    }
    return true;
}

QList<PlacementJournal::Test> PlacementJournal::unreleased() const
{
    QMutexLocker lock(&m_mutex);
    QList<Test> tests;
    Statement q(m_db, (QByteArray("select ") + testColumns + " from test where state < 3 order by row").constData());
    while (q.step())
        tests.append(readTest(q));
    return tests;
}

QList<PlacementJournal::Test> PlacementJournal::givable() const
{
    QMutexLocker lock(&m_mutex);
    QList<Test> tests;
    // Read in a session that did not end cleanly, with no clean end since,
    // and not yet given in this session.
    Statement q(m_db, (QByteArray("select ") + testColumns
                       + " from test where hasResult = 1 and givenIn <> ?1 and session <> ?1"
                         " and session > (select ifnull(max(id), 0) from session where ended is not null)"
                         " order by row")
                          .constData());
    q.bind(1, m_session);
    while (q.step())
        tests.append(readTest(q));
    return tests;
}

bool PlacementJournal::holdsUnreleased(quint32 testId) const
{
    QMutexLocker lock(&m_mutex);
    Statement q(m_db, "select 1 from test where testId=? and state < 3");
    q.bind(1, qint64(testId));
    return q.step();
}

quint32 PlacementJournal::newestId() const
{
    QMutexLocker lock(&m_mutex);
    Statement q(m_db, "select testId from test order by row desc limit 1");
    return q.step() ? quint32(q.integer(0)) : 0;
}
