#include "fakeanalyzer.h"
#include "lineserver.h"
#include "tracerecorder.h"

#include "instrvela.h"
#include "replyerror.h"
#include "talkthread.h"

#include "core/messagepresenter.h"

#include <tqcore/assay.h>
#include <tqcore/blink.h>
#include <tqcore/resource.h>
#include <tqcore/workbench.h>

#include <QtTest>

#include <memory>

#include "testthread.h"
#include "testtime.h"

Q_DECLARE_METATYPE(ParamBlock)

// The instrument object against a fake analyzer on a line server, the talk
// thread opened straight on the server's port.
class TestInstrVela : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void construction();
    void testIdsNeverZero();
    void features();
    void paramBlock_data();
    void paramBlock();
    void withoutValidBlock();
    void memoryRead();
    void memoryReadStops_data();
    void memoryReadStops();
    void memoryWrite();
    void memoryWriteStopsOnEmptyReply();
    void loadParamAndReset();
    void channelCommands_data();
    void channelCommands();
    void channelErrorReplyStillChangesMask();
    void channelWithoutLinkFails();
    void commandTooLong();
    void errorReplyBecomesLastError();
    void startTest_data();
    void startTest();
    void placementClash_data();
    void placementClash();
    void cancelTest_data();
    void cancelTest();
    void placedOnceAcrossALostReply_data();
    void placedOnceAcrossALostReply();
    void reagentTableWithoutReplyFails();
    void lastErrorBelongsToItsThread();
    void createResources();
    void reagentTable();
    void readReagentVolumes_data();
    void readReagentVolumes();
    void readReagentVolumesUnknownPosition();
    void waitModuleIdle_data();
    void waitModuleIdle();
    void waitModuleIdleGivesUpOnBrokenLink();
    void waitModuleIdleIsBounded();
    void runModuleSequence();
    void runModuleSequenceLinkDropped();

private:
    void openOn(LineServer& server);
    Reagent* addReagent(const QString& name, const QString& position, double volume);

    QTemporaryDir m_dir;
    std::unique_ptr<Workbench> m_workbench;
    std::unique_ptr<InstrVela> m_instr;
    std::unique_ptr<FakeAnalyzer> m_analyzer;
    std::unique_ptr<LineServer> m_server;
};

void TestInstrVela::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir::setCurrent(m_dir.path());
}

void TestInstrVela::init()
{
    qunsetenv("VELA_TALK_TIMEOUT_MS");
    qunsetenv("VELA_MODULE_WAIT_MS");
    m_workbench = std::make_unique<Workbench>();
    m_instr = std::make_unique<InstrVela>(m_workbench.get());
    m_analyzer = std::make_unique<FakeAnalyzer>();
    m_server = std::make_unique<LineServer>(m_analyzer->handler());
}

void TestInstrVela::cleanup()
{
    m_instr.reset();
    m_server.reset();
    m_analyzer.reset();
    m_workbench.reset();
}

void TestInstrVela::openOn(LineServer& server)
{
    qputenv("VELA_LINKHUB_PORT", server.portText());
    QVERIFY(m_instr->talkThread()->open());
}

Reagent* TestInstrVela::addReagent(const QString& name, const QString& position, double volume)
{
    ResourceManager* rm = m_workbench->resourceManager();
    Reagent* r = m_workbench->reagentManager()->createReagent(m_workbench.get(), name, rm);
    rm->addResource(r);
    if (!r->moveTo(position))
        qWarning() << "cannot move" << name << "to" << position;
    r->setVolumePercent(volume);
    return r;
}

void TestInstrVela::construction()
{
    QCOMPARE(m_instr->findMessage(0x10040), QStringLiteral("测试杯数量不足，需要添加。"));
    QCOMPARE(m_instr->findMessage(0x10001), QStringLiteral("卷带抽屉已打开。"));
    QCOMPARE(m_instr->messageLevel(0x10008), 1);
    QCOMPARE(m_instr->temperatures().size(), 9);
    QCOMPARE(m_instr->defaultMethod(), QStringLiteral("光学法"));
    QVERIFY(!m_instr->isTemperatureStable());
    QVERIFY(!m_instr->isValidParam());
    QCOMPARE(m_instr->talkThread()->parent(), m_instr.get());
    QCOMPARE(m_instr->temperatureBlink()->parent(), m_instr.get());
    const quint32 seconds = quint32(QTime(0, 0).secsTo(QTime::currentTime()));
    const quint32 first = m_instr->nextTestId();
    QVERIFY(first <= seconds + 1 && first + 1 >= seconds);

    // Without methods the default method is empty.
    m_workbench->setInstrInfo(QStringLiteral("method"), QStringList());
    InstrVela other(m_workbench.get());
    QCOMPARE(other.defaultMethod(), QString());
}

void TestInstrVela::testIdsNeverZero()
{
    m_instr->seedTestIds(0xFFFFFFFEu);
    QCOMPARE(m_instr->nextTestId(), 0xFFFFFFFFu);
    QCOMPARE(m_instr->nextTestId(), 1u);
    QCOMPARE(m_instr->nextTestId(), 2u);
}

void TestInstrVela::features()
{
    QVERIFY(m_instr->hasFeature(0));
    QVERIFY(m_instr->hasFeature(1));
    QVERIFY(!m_instr->hasFeature(2));
}

void TestInstrVela::paramBlock_data()
{
    QTest::addColumn<ParamBlock>("stored");
    QTest::addColumn<ParamBlock>("kept");
    QTest::newRow("valid block kept") << ParamBlock{8, 0x201} << ParamBlock{8, 0x201};
    QTest::newRow("size 4: first 4 bytes, zero mask, size 8") << ParamBlock{4, 0x3FF} << ParamBlock{8, 0};
    QTest::newRow("size 12: all zero") << ParamBlock{12, 0x3FF} << ParamBlock{0, 0};
    QTest::newRow("size 0: all zero") << ParamBlock{0, 0x3FF} << ParamBlock{0, 0};
    QTest::newRow("size huge: all zero") << ParamBlock{0xFFFFFFFF, 1} << ParamBlock{0, 0};
}

void TestInstrVela::paramBlock()
{
    QFETCH(ParamBlock, stored);
    QFETCH(ParamBlock, kept);
    m_instr->setParamData(&stored);
    const ParamBlock* p = static_cast<const ParamBlock*>(m_instr->paramData());
    QCOMPARE(p->size, kept.size);
    QCOMPARE(p->disabledMask, kept.disabledMask);
    QCOMPARE(m_instr->isValidParam(), kept.size != 0);
}

void TestInstrVela::withoutValidBlock()
{
    openOn(*m_server);
    for (int i = 0; i < InstrVela::ChannelCount; ++i)
        QVERIFY(m_instr->isChannelEnabled(i));
    QVERIFY(!m_instr->reset());
    QTest::qWait(20);
    QVERIFY(m_server->lines().isEmpty());
}

void TestInstrVela::memoryRead()
{
    QByteArray content;
    for (int i = 0; i < 300; ++i)
        content += char(i * 7);
    m_analyzer->writeMemory(0x40, content);
    openOn(*m_server);

    std::unique_ptr<QIODevice> file(m_instr->createParamDevice(QIODevice::ReadOnly));
    QVERIFY(file->isOpen());
    QVERIFY(file->seek(0x40));
    QCOMPARE(file->read(100), content.left(100));
    QCOMPARE(m_server->lines(), (QList<QByteArray>{"4C004040", "4C008024"}));

    m_server->clearLines();
    QVERIFY(file->seek(0));
    QCOMPARE(file->read(100).size(), 100);
    QCOMPARE(m_server->lines(), (QList<QByteArray>{"4C000040", "4C004024"}));

    // A read reaching the end of the 16-bit address space stops there.
    m_server->clearLines();
    QVERIFY(file->seek(0xFFF0));
    QCOMPARE(file->read(64).size(), 16);
    QCOMPARE(m_server->lines(), (QList<QByteArray>{"4CFFF010"}));
}

void TestInstrVela::memoryReadStops_data()
{
    QTest::addColumn<QByteArray>("secondReply");
    QTest::addColumn<int>("bytes");
    QTest::newRow("reply without data") << QByteArray("4C") << 64;
    QTest::newRow("odd character only") << QByteArray("4C0") << 64;
    QTest::newRow("error reply") << QByteArray("4CXX") << 64;
    QTest::newRow("link error") << QByteArray("Err: serial time-out") << 64;
    QTest::newRow("not hexadecimal") << QByteArray("4CZZ") << 64;
    QTest::newRow("short data") << QByteArray("4C0102") << 66;
}

void TestInstrVela::memoryReadStops()
{
    QFETCH(QByteArray, secondReply);
    QFETCH(int, bytes);
    m_analyzer->setReply("4C004024", secondReply);
    m_analyzer->setReply("4C004222", "4C");
    openOn(*m_server);
    std::unique_ptr<QIODevice> file(m_instr->createParamDevice(QIODevice::ReadOnly));
    QCOMPARE(file->read(100).size(), bytes);
}

void TestInstrVela::memoryWrite()
{
    openOn(*m_server);
    QByteArray content;
    for (int i = 0; i < 100; ++i)
        content += char(0xA0 + i);
    std::unique_ptr<QIODevice> file(m_instr->createParamDevice(QIODevice::WriteOnly));
    QVERIFY(file->seek(0x10));
    QCOMPARE(file->write(content), qint64(100));
    const QList<QByteArray> lines = m_server->lines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), "4D001040" + content.left(64).toHex().toUpper());
    QCOMPARE(lines.at(1), "4D005024" + content.mid(64).toHex().toUpper());
    QCOMPARE(m_analyzer->memory(0x10, 100), content);
}

void TestInstrVela::memoryWriteStopsOnEmptyReply()
{
    m_analyzer->setHangUp("4D0040" + QByteArray("40") + QByteArray(64, '\0').toHex().toUpper());
    openOn(*m_server);
    std::unique_ptr<QIODevice> file(m_instr->createParamDevice(QIODevice::WriteOnly));
    QCOMPARE(file->write(QByteArray(200, '\0')), qint64(64));
    QCOMPARE(m_server->lines().size(), 2);
}

void TestInstrVela::loadParamAndReset()
{
    const ParamBlock stored{8, 0x201}; // channels 1 and 10 disabled
    m_analyzer->writeMemory(0, QByteArray(reinterpret_cast<const char*>(&stored), 8));
    openOn(*m_server);
    QVERIFY(m_instr->loadParam());
    QVERIFY(m_instr->isValidParam());
    QVERIFY(!m_instr->isChannelEnabled(0));
    QVERIFY(m_instr->isChannelEnabled(1));
    QVERIFY(!m_instr->isChannelEnabled(9));

    m_server->clearLines();
    QVERIFY(m_instr->reset());
    QCOMPARE(m_server->lines(),
             (QList<QByteArray>{"5D1", "5C2", "5C3", "5C4", "5C5", "5C6", "5C7", "5C8", "5C9", "5DA"}));
}

void TestInstrVela::channelCommands_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("on");
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("channel 1 on") << 0 << true << QByteArray("5C1");
    QTest::newRow("channel 1 off") << 0 << false << QByteArray("5D1");
    QTest::newRow("channel 10 on -> A") << 9 << true << QByteArray("5CA");
    QTest::newRow("channel 10 off -> A") << 9 << false << QByteArray("5DA");
}

void TestInstrVela::channelCommands()
{
    QFETCH(int, channel);
    QFETCH(bool, on);
    QFETCH(QByteArray, command);
    const ParamBlock valid{8, 0};
    m_instr->setParamData(&valid);
    openOn(*m_server);
    QVERIFY(m_instr->setChannelEnabled(channel, on));
    QCOMPARE(m_server->lines(), QList<QByteArray>{command});
    QCOMPARE(m_instr->isChannelEnabled(channel), on);

    // Channels outside 0..9 are refused without a command.
    QVERIFY(!m_instr->setChannelEnabled(10, on));
    QVERIFY(!m_instr->setChannelEnabled(-1, on));
    QCOMPARE(m_server->lines().size(), 1);
}

void TestInstrVela::channelErrorReplyStillChangesMask()
{
    const ParamBlock valid{8, 0};
    m_instr->setParamData(&valid);
    m_analyzer->setReply("5D3", "5DXX");
    openOn(*m_server);
    QVERIFY(!m_instr->setChannelEnabled(2, false));
    QVERIFY(!m_instr->isChannelEnabled(2));
    QCOMPARE(m_instr->lastError(), QStringLiteral("5DXX"));
}

void TestInstrVela::channelWithoutLinkFails()
{
    // The talk thread is not open: nothing answers, so the switch failed.
    const ParamBlock valid{8, 0};
    m_instr->setParamData(&valid);
    QVERIFY(!m_instr->setChannelEnabled(4, false));
    QVERIFY(!m_instr->isChannelEnabled(4));
    QVERIFY(!m_instr->lastError().isEmpty());
    QVERIFY(m_server->lines().isEmpty());
}

void TestInstrVela::commandTooLong()
{
    openOn(*m_server);
    const QByteArray text(600, 'A');
    const QByteArray reply = m_instr->sendCommand("77%s", text.constData());
    QVERIFY(reply.startsWith("Err:"));
    QVERIFY(m_instr->isErrorReply(reply));
    const QByteArray fits(509, 'A');
    QCOMPARE(m_instr->sendCommand("77%s", fits.constData()).left(4), QByteArray("7700"));
    QCOMPARE(m_server->lines(), QList<QByteArray>{"77" + fits});
}

void TestInstrVela::errorReplyBecomesLastError()
{
    QVERIFY(!m_instr->isErrorReply("3200"));
    QCOMPARE(m_instr->lastError(), QString());
    QVERIFY(m_instr->isErrorReply("32XX"));
    QCOMPARE(m_instr->lastError(), QStringLiteral("32XX"));
    QVERIFY_THROWS_EXCEPTION(ReplyError, m_instr->checkReply("Err: no analyzer selected"));
    QCOMPARE(m_instr->lastError(), QStringLiteral("Err: no analyzer selected"));
    m_instr->checkReply("3111"); // no error reply: no throw
}

void TestInstrVela::startTest_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<QByteArray>("position");
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<int>("factor");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("free");
    QTest::newRow("example, default method") << 0x1234u << QByteArray("B1") << QByteArray("PT") << 1 << QString()
                                             << QByteArray("3100001234B1PT01L") << QByteArray("311103") << true << 3;
    QTest::newRow("bead method -> C") << 0xDEADBEEFu << QByteArray("BC") << QByteArray("AP") << 2
                                      << QStringLiteral("磁珠法") << QByteArray("31DEADBEEFBCAP02C")
                                      << QByteArray("31110A") << true << 10;
    QTest::newRow("optical method -> L, factor 10")
        << 1u << QByteArray("C5") << QByteArray("FI") << 10 << QStringLiteral("光学法")
        << QByteArray("3100000001C5FI10L") << QByteArray("3111") << true << 0;
    QTest::newRow("short item padded with 0") << 2u << QByteArray("B1") << QByteArray("P") << 1 << QString()
                                              << QByteArray("3100000002B10P01L") << QByteArray("311100") << true << 0;
    QTest::newRow("refused") << 3u << QByteArray("B1") << QByteArray("PT") << 1 << QString()
                             << QByteArray("3100000003B1PT01L") << QByteArray("3100") << false << -1;
}

// Whose test holds the id: a 31 refused with an error reply, or whose answer
// was lost, is followed by a 32; a test there with other fields is someone
// else's (the id clashes), one with ours is ours. A plain "3100" asks nothing.
void TestInstrVela::placementClash_data()
{
    QTest::addColumn<bool>("answerLost");
    QTest::addColumn<QByteArray>("reply31");
    QTest::addColumn<QByteArray>("reply32");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("clash");
    QTest::addColumn<QByteArray>("sent");
    const QByteArray ours = "3201 00000004B1PT01L2026-12-09 10:00 00 00   ";
    const QByteArray other = "3201 00000004A7FI02C2026-12-09 10:00 00 00   ";
    QTest::newRow("31XX, id free") << false << QByteArray("31XX") << QByteArray("32XX") << false << false
                                   << QByteArray("31 32");
    QTest::newRow("31XX, another test holds the id")
        << false << QByteArray("31XX") << other << false << true << QByteArray("31 32");
    QTest::newRow("31XX, our own test is there")
        << false << QByteArray("31XX") << ours << true << false << QByteArray("31 32");
    QTest::newRow("intake full: nothing more")
        << false << QByteArray("3100") << ours << false << false << QByteArray("31");
    QTest::newRow("answer lost, another test holds the id")
        << true << QByteArray("311101") << other << false << true << QByteArray("32");
    QTest::newRow("answer lost, ours arrived")
        << true << QByteArray("311101") << ours << true << false << QByteArray("32");
    QTest::newRow("answer lost, never arrived")
        << true << QByteArray("311101") << QByteArray("32XX") << true << false << QByteArray("32 31");
}

void TestInstrVela::placementClash()
{
    QFETCH(bool, answerLost);
    QFETCH(QByteArray, reply31);
    QFETCH(QByteArray, reply32);
    QFETCH(bool, accepted);
    QFETCH(bool, clash);
    QFETCH(QByteArray, sent);
    m_analyzer->setReply("3100000004B1PT01L", reply31);
    m_analyzer->setReply("3200000004", reply32);
    openOn(*m_server);
    TestRecord record;
    record.testId = 4;
    record.positionCode = "B1";
    record.itemCode = "PT";
    record.placementUnknown = answerLost;
    int freeCount = 0;
    QCOMPARE(m_instr->startTest(record, &freeCount), accepted);
    QCOMPARE(record.idClash, clash);
    QByteArrayList codes;
    for (const QByteArray& line : m_server->lines())
        codes << line.left(2);
    QCOMPARE(codes.join(' '), sent);
}

void TestInstrVela::startTest()
{
    QFETCH(quint32, id);
    QFETCH(QByteArray, position);
    QFETCH(QByteArray, item);
    QFETCH(int, factor);
    QFETCH(QString, method);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    QFETCH(int, free);

    m_analyzer->setReply(command, reply);
    openOn(*m_server);
    TestRecord record;
    record.testId = id;
    record.positionCode = position;
    record.itemCode = item;
    record.dilutionFactor = factor;
    record.method = method;
    int freeCount = -1;
    QCOMPARE(m_instr->startTest(record, &freeCount), accepted);
    QCOMPARE(freeCount, free);
    QCOMPARE(m_server->lines(), QList<QByteArray>{command});
}

void TestInstrVela::cancelTest_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("released");
    QTest::newRow("released") << QByteArray("3400") << true;
    QTest::newRow("released, more text") << QByteArray("34000012") << true;
    QTest::newRow("refused 3400C0") << QByteArray("3400C0") << false;
    QTest::newRow("error reply 34XX") << QByteArray("34XX") << false;
    QTest::newRow("link error") << QByteArray("Err: serial time-out") << false;
    QTest::newRow("no reply, link gone") << QByteArray() << false;
}

void TestInstrVela::cancelTest()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, released);
    if (reply.isEmpty())
        m_analyzer->setHangUp("3400ABCDEF");
    else
        m_analyzer->setReply("3400ABCDEF", reply);
    openOn(*m_server);
    QCOMPARE(m_instr->cancelTest(0xABCDEF), released);
    QCOMPARE(m_server->lines(), QList<QByteArray>{"3400ABCDEF"});
}

// A 31 whose answer was lost may or may not have reached the analyzer. The
// next try asks 32 for the same id first: the test is placed once, never
// twice, whichever it was.
void TestInstrVela::placedOnceAcrossALostReply_data()
{
    QTest::addColumn<QByteArray>("firstReply"); // empty: the link breaks instead
    QTest::addColumn<QByteArray>("queryReply"); // to the 32 after reconnection; empty: breaks again
    QTest::addColumn<bool>("placed");
    QTest::addColumn<int>("free");
    QTest::addColumn<QList<QByteArray>>("lines");

    const QByteArray place = "3100000007B1PT01L";
    const QByteArray query = "3200000007";
    QTest::newRow("it had arrived") << QByteArray() << QByteArray("3203 00000007B1PT01L") << true << -1
                                    << QList<QByteArray>{place, query};
    QTest::newRow("it never arrived") << QByteArray() << QByteArray("32XX") << true << 2
                                      << QList<QByteArray>{place, query, place};
    QTest::newRow("still no answer") << QByteArray() << QByteArray() << false << -1 << QList<QByteArray>{place, query};
    QTest::newRow("Linkhub's time-out is no answer") << QByteArray("Err: serial time-out") << QByteArray("32XX") << true
                                                     << 2 << QList<QByteArray>{place, query, place};
    QTest::newRow("a refusal is an answer")
        << QByteArray("3100") << QByteArray("32XX") << true << 2 << QList<QByteArray>{place, place};
}

void TestInstrVela::placedOnceAcrossALostReply()
{
    QFETCH(QByteArray, firstReply);
    QFETCH(QByteArray, queryReply);
    QFETCH(bool, placed);
    QFETCH(int, free);
    QFETCH(QList<QByteArray>, lines);

    std::atomic<int> places{0};
    LineServer server([&](const QByteArray& line) {
        if (line.startsWith("31")) {
            if (places++ > 0)
                return LineServer::line("311102");
            return firstReply.isEmpty() ? LineServer::hangUp() : LineServer::line(firstReply);
        }
        return queryReply.isEmpty() ? LineServer::hangUp() : LineServer::line(queryReply);
    });
    openOn(server);
    Assay assay;
    TestRecord record;
    record.testId = 7;
    record.positionCode = "B1";
    record.itemCode = "PT";
    record.assay = &assay;
    int freeCount = 0;
    QVERIFY(!m_instr->startTest(record, &freeCount));
    QVERIFY(m_instr->talkThread()->open()); // reconnected
    freeCount = 0;
    QCOMPARE(m_instr->startTest(record, &freeCount), placed);
    if (placed)
        QCOMPARE(freeCount, free);
    QCOMPARE(record.placementUnknown, !placed);
    QCOMPARE(server.lines(), lines);
}

void TestInstrVela::reagentTableWithoutReplyFails()
{
    m_instr->createResources(m_workbench->resourceManager());
    m_analyzer->setHangUp("77BUZ1FF");
    openOn(*m_server);
    QVERIFY(!m_instr->sendReagentTable());
    QCOMPARE(m_instr->lastError(), QStringLiteral("与仪器的连接已断开"));
}

// An error reply another thread met is that thread's: it never becomes
// what the GUI thread shows.
void TestInstrVela::lastErrorBelongsToItsThread()
{
    m_instr->setLastError(QStringLiteral("mine"));
    std::unique_ptr<QThread> worker(testsupport::createThread([this] {
        QVERIFY(m_instr->isErrorReply("32XX"));
        QCOMPARE(m_instr->lastError(), QStringLiteral("32XX"));
    }));
    worker->start();
    QVERIFY(testsupport::join(worker, 5000));
    QCOMPARE(m_instr->lastError(), QStringLiteral("mine"));
}

void TestInstrVela::createResources()
{
    ResourceManager* rm = m_workbench->resourceManager();
    m_instr->createResources(rm);
    Resource* buffer = rm->position(QStringLiteral("Z1"))->resource();
    Resource* rinse = rm->position(QStringLiteral("Z2"))->resource();
    QVERIFY(buffer && rinse);
    QCOMPARE(buffer->name(), QStringLiteral("Buffer"));
    QCOMPARE(rinse->name(), QStringLiteral("Rinse"));
    QCOMPARE(qobject_cast<Reagent*>(buffer)->type(), 2);
    QCOMPARE(qobject_cast<Reagent*>(rinse)->type(), 3);
    QVERIFY(buffer->isPermanent() && rinse->isPermanent());
}

void TestInstrVela::reagentTable()
{
    m_instr->createResources(m_workbench->resourceManager());
    addReagent(QStringLiteral("PT"), QStringLiteral("R2"), 1.0);
    addReagent(QStringLiteral("PT"), QStringLiteral("R1"), 0.5);
    addReagent(QStringLiteral("APTT"), QStringLiteral("R5"), 0.2);
    addReagent(QStringLiteral("aPTT"), QStringLiteral("R6"), 1.2);
    addReagent(QStringLiteral("TT"), QStringLiteral("R7"), 1.0)->setIncluded(false);
    openOn(*m_server);
    QVERIFY(m_instr->sendReagentTable());
    // Groups by name in ascending character order; bottles in position order.
    QCOMPARE(m_server->lines(), (QList<QByteArray>{"77APR533", "77BUZ1FF", "77PTR17FR2FF", "77RIZ2FF", "77APR6FF"}));
}

void TestInstrVela::readReagentVolumes_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<double>("r1");
    QTest::addColumn<double>("r2");
    QTest::newRow("two bottles") << QByteArray("78R140R2FF") << 0x40 / 255.0 << 1.0;
    QTest::newRow("one bottle") << QByteArray("78R2") + "00" << 0.5 << 0.0;
    QTest::newRow("shorter than six characters") << QByteArray("78R14") << 0.5 << 0.5;
    QTest::newRow("error reply") << QByteArray("78XX") << 0.5 << 0.5;
    QTest::newRow("trailing partial entry") << QByteArray("78R120R2F") << 0x20 / 255.0 << 0.5;
    QTest::newRow("fill level no number") << QByteArray("78R1zzR210") << 0.5 << 0x10 / 255.0;
    QTest::newRow("other reagent's position untouched") << QByteArray("78R310") << 0.5 << 0.5;
}

void TestInstrVela::readReagentVolumes()
{
    QFETCH(QByteArray, reply);
    QFETCH(double, r1);
    QFETCH(double, r2);
    Reagent* a = addReagent(QStringLiteral("PT"), QStringLiteral("R1"), 0.5);
    Reagent* b = addReagent(QStringLiteral("PT"), QStringLiteral("R2"), 0.5);
    Reagent* other = addReagent(QStringLiteral("TT"), QStringLiteral("R3"), 0.5);
    m_analyzer->setReply("78PT", reply);
    m_analyzer->setReply("78TT", "78");
    openOn(*m_server);
    m_instr->readReagentVolumes();
    QCOMPARE(a->volumePercent(), r1);
    QCOMPARE(b->volumePercent(), r2);
    QCOMPARE(other->volumePercent(), 0.5);
    QCOMPARE(m_server->lines(), (QList<QByteArray>{"78PT", "78TT"}));
}

void TestInstrVela::readReagentVolumesUnknownPosition()
{
    Reagent* a = addReagent(QStringLiteral("PT"), QStringLiteral("R1"), 0.5);
    m_analyzer->setReply("78PT", "78Q980R140");
    openOn(*m_server);
    TraceRecorder trace;
    m_instr->readReagentVolumes();
    QCOMPARE(a->volumePercent(), 0x40 / 255.0);
    const QStringList messages = trace.messages();
    QVERIFY2(messages.contains(QStringLiteral("不存在位置 Q9 Q9")), qPrintable(messages.join(QLatin1Char('|'))));
}

void TestInstrVela::waitModuleIdle_data()
{
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<bool>("idle");
    QTest::addColumn<int>("polls");
    QTest::newRow("idle at once") << QList<QByteArray>{"5500"} << true << 1;
    QTest::newRow("busy, then idle") << QList<QByteArray>{"5501", "55010001", "5500"} << true << 3;
    QTest::newRow("warning code goes on") << QList<QByteArray>{"55010B01", "5500"} << true << 2;
    QTest::newRow("error code stops") << QList<QByteArray>{"55010001", "55010A01", "5500"} << false << 2;
    QTest::newRow("error code after warning") << QList<QByteArray>{"550100010B010A01"} << false << 1;
    // Refusals count with the empty replies toward giving up, at once.
    QTest::newRow("refused every time") << QList<QByteArray>{"55XX"} << false << 5;
}

void TestInstrVela::waitModuleIdle()
{
    QFETCH(QList<QByteArray>, replies);
    QFETCH(bool, idle);
    QFETCH(int, polls);
    m_instr->addMessage(0x0A01, 2, QStringLiteral("module error"));
    m_instr->addMessage(0x0B01, 1, QStringLiteral("module warning"));
    m_analyzer->setSequence("552", replies);
    openOn(*m_server);
    QCOMPARE(m_instr->waitModuleIdle(2), idle);
    QCOMPARE(m_server->lines().size(), polls);
}

void TestInstrVela::waitModuleIdleGivesUpOnBrokenLink()
{
    m_analyzer->setHangUp("551");
    openOn(*m_server);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!m_instr->waitModuleIdle(1));
    QVERIFY(timer.elapsed() < testsupport::scaled(5000));
    QCOMPARE(m_server->lines().size(), 1);
}

void TestInstrVela::waitModuleIdleIsBounded()
{
    qputenv("VELA_MODULE_WAIT_MS", "400");
    m_analyzer->setReply("551", "5501");
    openOn(*m_server);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!m_instr->waitModuleIdle(1));
    QVERIFY(timer.elapsed() >= 350);
    QVERIFY(timer.elapsed() < testsupport::scaled(5000));
}

void TestInstrVela::runModuleSequence()
{
    m_analyzer->setSequence("552", {"5501", "5500", "5501", "5500"});
    m_analyzer->setSequence("551", {"5501", "5500"});
    openOn(*m_server);
    m_instr->runModuleSequence();
    QCOMPARE(m_server->lines(), (QList<QByteArray>{"5113", "5123", "552", "552", "5124", "552", "552", "551", "551"}));
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestInstrVela::runModuleSequenceLinkDropped()
{
    m_analyzer->setSequence("552", {"5501", "5500"});
    m_analyzer->setHangUp("5124");
    openOn(*m_server);
    QElapsedTimer timer;
    timer.start();
    m_instr->runModuleSequence();
    QVERIFY(timer.elapsed() < testsupport::scaled(5000));
    QCOMPARE(m_server->lines(), (QList<QByteArray>{"5113", "5123", "552", "552", "5124"}));
    QVERIFY(!QGuiApplication::overrideCursor());
}

QTEST_MAIN(TestInstrVela)
#include "tst_instrvela.moc"
