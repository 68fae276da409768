#include "rig.h"

#include "connectionpage.h"

#include "core/serial.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

using Requests = QList<QByteArray>;

namespace {

const QString portKey = QStringLiteral("instrument/port");
const QString intervalKey = QStringLiteral("instrument/timeout/interval");
const QString readKey = QStringLiteral("instrument/timeout/read");
const QString writeKey = QStringLiteral("instrument/timeout/write");

Profile& profile()
{
    return Profile::instance();
}

void forget(const QStringList& keys)
{
    for (const QString& key : keys)
        profile().remove(key);
}

} // namespace

class TestConnectionPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { openSettingsInTemporaryFolder(); }
    void init() { forget({portKey, intervalKey, readKey, writeKey}); }

    void opening_data();
    void opening();
    void storedPortIsSelected();
    void edits_data();
    void edits();
    void typedPortIsStored();
    void resetRestoresTimeouts();
    void reconnect_data();
    void reconnect();
};

void TestConnectionPage::opening_data()
{
    QTest::addColumn<QVariantList>("stored"); // interval, read, write; invalid: not stored
    QTest::addColumn<QList<int>>("shown");

    QTest::newRow("nothing stored: defaults")
        << QVariantList{QVariant(), QVariant(), QVariant()} << QList<int>{50, 300, 100};
    QTest::newRow("stored values") << QVariantList{7, 1200, 0} << QList<int>{7, 1200, 0};
    QTest::newRow("stored as text") << QVariantList{"20", "2500", "400"} << QList<int>{20, 2500, 400};
    QTest::newRow("some stored") << QVariantList{QVariant(), 900, QVariant()} << QList<int>{50, 900, 100};
}

// A stored port that is not enumerated selects nothing; opening the page
// writes nothing back.
void TestConnectionPage::opening()
{
    QFETCH(QVariantList, stored);
    QFETCH(QList<int>, shown);
    const QStringList keys{intervalKey, readKey, writeKey};
    for (int i = 0; i < 3; ++i) {
        if (stored.at(i).isValid())
            profile().setValue(keys.at(i), stored.at(i), false);
    }
    profile().setValue(portKey, QStringLiteral("/dev/ttyNOT-THERE"), false);

    PageRig rig;
    QSignalSpy writes(&profile(), &Profile::valueChanged);
    ConnectionPage page(rig.instrument.data(), nullptr);
    QCOMPARE(page.windowTitle(), QStringLiteral("常规"));
    QCOMPARE(child<QSpinBox>(page, "readInterval")->value(), shown.at(0));
    QCOMPARE(child<QSpinBox>(page, "readTimeout")->value(), shown.at(1));
    QCOMPARE(child<QSpinBox>(page, "writeTimeout")->value(), shown.at(2));
    auto* port = child<QComboBox>(page, "port");
    QCOMPARE(port->count(), Serial::EnumDevices().size());
    QCOMPARE(port->currentIndex(), -1);
    QCOMPARE(writes.count(), 0);
    QCOMPARE(profile().value(portKey).toString(), QStringLiteral("/dev/ttyNOT-THERE"));
    QVERIFY(rig.server.requests().isEmpty());
}

void TestConnectionPage::storedPortIsSelected()
{
    const QStringList ports = Serial::EnumDevices();
    if (ports.isEmpty())
        QSKIP("needs at least one serial port on this machine");
    const QString stored = ports.last();
    profile().setValue(portKey, stored, false);
    PageRig rig;
    ConnectionPage page(rig.instrument.data(), nullptr);
    auto* port = child<QComboBox>(page, "port");
    QCOMPARE(port->currentIndex(), ports.size() - 1);
    QCOMPARE(port->currentText(), stored);

    // the exact text only
    profile().setValue(portKey, stored.toUpper() + QLatin1Char(' '), false);
    ConnectionPage other(rig.instrument.data(), nullptr);
    QCOMPARE(child<QComboBox>(other, "port")->currentIndex(), -1);
}

void TestConnectionPage::edits_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("value");

    QTest::newRow("interval to 0") << "readInterval" << intervalKey << 0;
    QTest::newRow("interval to the top") << "readInterval" << intervalKey << 100000;
    QTest::newRow("read to 0") << "readTimeout" << readKey << 0;
    QTest::newRow("read to 2500") << "readTimeout" << readKey << 2500;
    QTest::newRow("write to 0") << "writeTimeout" << writeKey << 0;
    QTest::newRow("write to 800") << "writeTimeout" << writeKey << 800;
}

void TestConnectionPage::edits()
{
    QFETCH(QString, box);
    QFETCH(QString, key);
    QFETCH(int, value);
    PageRig rig;
    ConnectionPage page(rig.instrument.data(), nullptr);
    QSignalSpy writes(&profile(), &Profile::valueChanged);
    child<QSpinBox>(page, box)->setValue(value);
    QCOMPARE(writes.count(), 1);
    QCOMPARE(writes.first().at(0).toString(), key);
    QCOMPARE(profile().value(key).toInt(), value);
    QCOMPARE(profile().value(key).isValid(), true);

    // a step with the arrow key is stored at once
    QTest::keyClick(child<QSpinBox>(page, box), Qt::Key_Down);
    const int stepped = child<QSpinBox>(page, box)->value();
    QCOMPARE(profile().value(key).toInt(), stepped);
}

void TestConnectionPage::typedPortIsStored()
{
    PageRig rig;
    ConnectionPage page(rig.instrument.data(), nullptr);
    auto* port = child<QComboBox>(page, "port");
    QVERIFY(port->isEditable());
    port->lineEdit()->setText(QStringLiteral("/dev/ttyVELA7"));
    // typing alone makes no entry current
    QVERIFY(!profile().value(portKey).isValid());
    QTest::keyClick(port->lineEdit(), Qt::Key_Return);
    QCOMPARE(port->currentText(), QStringLiteral("/dev/ttyVELA7"));
    QCOMPARE(profile().value(portKey).toString(), QStringLiteral("/dev/ttyVELA7"));

    // choosing an entry of the list
    port->addItem(QStringLiteral("/dev/ttyOTHER"));
    port->setCurrentIndex(port->findText(QStringLiteral("/dev/ttyOTHER")));
    QCOMPARE(profile().value(portKey).toString(), QStringLiteral("/dev/ttyOTHER"));
}

void TestConnectionPage::resetRestoresTimeouts()
{
    profile().setValue(portKey, QStringLiteral("/dev/ttyKEEP"), false);
    profile().setValue(intervalKey, 1, false);
    profile().setValue(readKey, 2, false);
    profile().setValue(writeKey, 3, false);
    PageRig rig;
    ConnectionPage page(rig.instrument.data(), nullptr);
    child<QPushButton>(page, "reset")->click();
    QCOMPARE(child<QSpinBox>(page, "readInterval")->value(), 50);
    QCOMPARE(profile().value(intervalKey).toInt(), 50);
    QCOMPARE(profile().value(readKey).toInt(), 300);
    QCOMPARE(profile().value(writeKey).toInt(), 100);
    QCOMPARE(profile().value(portKey).toString(), QStringLiteral("/dev/ttyKEEP"));
    QVERIFY(rig.server.requests().isEmpty());
}

void TestConnectionPage::reconnect_data()
{
    QTest::addColumn<QByteArray>("listReply");
    QTest::addColumn<bool>("connected");

    QTest::newRow("one analyzer") << QByteArray("V1") << true;
    QTest::newRow("list refused") << QByteArray("Err:port busy") << false;
}

// Without a Linkhub program to start, the driver finds the line server on
// the Linkhub port.
void TestConnectionPage::reconnect()
{
    QFETCH(QByteArray, listReply);
    QFETCH(bool, connected);
    QTemporaryDir empty;
    qputenv("VELA_LINKHUB", empty.filePath(QStringLiteral("no-such-program")).toLocal8Bit());
    profile().setValue(portKey, QStringLiteral("/dev/ttyRECONNECT"), false);
    PageRig rig;
    rig.script->setCodeReply("/0", "OK");
    rig.script->setReply("/010", listReply);
    ConnectionPage page(rig.instrument.data(), nullptr);
    QVERIFY(rig.instrument->talkThread()->isConnected());

    child<QPushButton>(page, "reconnect")->click();
    const Requests sent = rig.server.requests();
    QVERIFY(sent.size() >= 2);
    QCOMPARE(sent.at(0), QByteArray("/00/dev/ttyRECONNECT"));
    QCOMPARE(sent.at(1), QByteArray("/010"));
    QCOMPARE(rig.instrument->isConnected(), connected);
    QCOMPARE(rig.messages.texts().contains(QStringLiteral("连接成功")), connected);
    if (!connected)
        QCOMPARE(rig.messages.texts(), QStringList{"Err:port busy"});
    else
        QCOMPARE(rig.messages.texts(), QStringList{QStringLiteral("连接成功")});
    rig.instrument->disconnectFromHost();
}

QTEST_MAIN(TestConnectionPage)
#include "tst_connectionpage.moc"
