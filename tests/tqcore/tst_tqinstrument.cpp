#include <tqcore/assay.h>
#include <tqcore/instrument.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include <QBuffer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cstring>

#include "testthread.h"

namespace {

// An instrument whose analyzer memory is a byte array and whose parameter
// block is a plain 256-byte buffer; reads can be cut short to mimic an
// analyzer that stops answering.
class MemoryInstrument : public Instrument
{
public:
    explicit MemoryInstrument(Workbench* wb = nullptr)
        : Instrument(wb)
    {
        block.fill('\0', 256);
    }

    QByteArray memory;
    QByteArray block;
    qint64 readLimit = -1; // bytes a read device delivers in all, -1 no limit
    bool noDevice = false;
    int devicesMade = 0;

    void* paramData() override { return block.data(); }
    void setParamData(const void* data) override { std::memcpy(block.data(), data, 256); }
    QIODevice* createParamDevice(QIODevice::OpenMode mode) override
    {
        if (noDevice)
            return nullptr;
        ++devicesMade;
        auto* device = new LimitedBuffer(&memory, readLimit);
        device->open(mode);
        return device;
    }

private:
    class LimitedBuffer : public QBuffer
    {
    public:
        LimitedBuffer(QByteArray* data, qint64 limit)
            : QBuffer(data)
            , m_left(limit)
        {
        }

    protected:
        qint64 readData(char* data, qint64 maxSize) override
        {
            if (m_left >= 0)
                maxSize = qMin(maxSize, m_left);
            const qint64 n = QBuffer::readData(data, maxSize);
            if (m_left >= 0 && n > 0)
                m_left -= n;
            return n;
        }

    private:
        qint64 m_left;
    };
};

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

quint32 firstWord(const QByteArray& b)
{
    quint32 v = 0;
    std::memcpy(&v, b.constData(), 4);
    return v;
}

} // namespace

class TestTqInstrument : public QObject
{
    Q_OBJECT

private slots:
    void stateSignal();
    void messageLevels_data();
    void messageLevels();
    void statusCodePerSource();
    void statusCodeFromThreads();
    void containsAssay();
    void deletedAssayLeavesInstrument();
    void loadParam_data();
    void loadParam();
    void loadParamFailures();
    void saveParam();
    void isValidParam();
    void runningSignals();
};

void TestTqInstrument::stateSignal()
{
    MemoryInstrument instrument;
    QSignalSpy spy(&instrument, &Instrument::stateChanged);
    QCOMPARE(instrument.state(), 0);
    QVERIFY(!instrument.isConnected());
    instrument.setState(2);
    instrument.setState(2);
    QVERIFY(instrument.isConnected());
    instrument.setState(0);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toInt(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 0);
}

void TestTqInstrument::messageLevels_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("expected");
    QTest::newRow("sensor message, level 1") << 0x10040 << 1;
    QTest::newRow("error message, level 3") << 0x0123 << 3;
    QTest::newRow("unregistered code") << 0x0999 << 0;
    QTest::newRow("zero clears") << 0 << 0;
    QTest::newRow("sensor all-clear") << 0x10000 << 0;
}

void TestTqInstrument::messageLevels()
{
    QFETCH(int, code);
    QFETCH(int, expected);
    MemoryInstrument instrument;
    instrument.addMessage(0x10040, 1, QStringLiteral("废液桶满"));
    instrument.addMessage(0x0123, 3, QStringLiteral("探针撞击"));
    QCOMPARE(instrument.setStatusCode(code, 17, QString()), expected);
    QCOMPARE(instrument.statusCode(17), expected > 0 ? code : 0);
}

void TestTqInstrument::statusCodePerSource()
{
    MemoryInstrument instrument;
    instrument.addMessage(0x10002, 1, QStringLiteral("a"));
    instrument.addMessage(0x10004, 2, QStringLiteral("b"));
    QCOMPARE(instrument.findMessage(0x10004), QStringLiteral("b"));
    QCOMPARE(instrument.findMessage(0x7777), QString());
    QSignalSpy spy(&instrument, &Instrument::statusCodeChanged);

    QCOMPARE(instrument.setStatusCode(0x10002, 257, QString()), 1);
    QCOMPARE(instrument.setStatusCode(0x10004, 258, QString()), 2);
    QCOMPARE(instrument.setStatusCode(0x10004, 258, QString()), 2); // unchanged: no signal
    QCOMPARE(spy.count(), 2);
    QCOMPARE(instrument.activeStatusCodes().size(), 2);

    QCOMPARE(instrument.setStatusCode(0x10000, 257, QString()), 0);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(instrument.activeStatusCodes().keys(), QList<int>{258});

    QVERIFY(instrument.reset());
    QVERIFY(instrument.activeStatusCodes().isEmpty());
}

void TestTqInstrument::statusCodeFromThreads()
{
    MemoryInstrument instrument;
    for (int i = 1; i <= 8; ++i)
        instrument.addMessage(i, i % 3, QString::number(i));
    QList<QThread*> threads;
    QAtomicInt wrong;
    for (int t = 0; t < 4; ++t) {
        threads.append(testsupport::createThread([&instrument, &wrong, t] {
            for (int n = 0; n < 20000; ++n) {
                const int code = (n % 8) + 1;
                if (instrument.setStatusCode(code, 17 + t, QString()) != code % 3)
                    wrong.ref();
                instrument.findMessage(code);
            }
        }));
        threads.last()->start();
    }
    for (QThread* t : threads) {
        QVERIFY(testsupport::join(t, 30000));
        delete t;
    }
    QCOMPARE(wrong.loadRelaxed(), 0);
}

void TestTqInstrument::containsAssay()
{
    Workbench wb;
    MemoryInstrument instrument(&wb);
    QCOMPARE(instrument.worklist(), wb.worklist());
    auto* a = new Assay(QStringLiteral("1"), QStringLiteral("A1"), QStringLiteral("PT"));
    wb.worklist()->append(a);
    QSignalSpy begun(&instrument, &Instrument::assayBegun);
    QSignalSpy ended(&instrument, &Instrument::assayEnded);

    QVERIFY(!instrument.containsAssay(a));
    QVERIFY(!instrument.containsAssay(nullptr));
    instrument.beginAssay(a);
    QVERIFY(instrument.containsAssay(a));
    QVERIFY(!a->isFinished());
    instrument.endAssay(a, false);
    QVERIFY(!instrument.containsAssay(a));
    QVERIFY(a->isFinished());
    QCOMPARE(a->status(), tq::Finished);
    QCOMPARE(begun.count(), 1);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(1).toBool(), false);

    instrument.beginAssay(nullptr);
    instrument.endAssay(nullptr, true);
    QCOMPARE(begun.count(), 1);
}

void TestTqInstrument::deletedAssayLeavesInstrument()
{
    Workbench wb;
    MemoryInstrument instrument(&wb);
    auto* a = new Assay(QStringLiteral("1"), QStringLiteral("A1"), QStringLiteral("PT"));
    wb.worklist()->append(a);
    QPointer<Assay> guard(a);
    instrument.beginAssay(a);
    wb.worklist()->remove(a);
    QVERIFY(guard.isNull());
    QVERIFY(!instrument.containsAssay(a));
    QCOMPARE(wb.worklist()->count(), 0);
}

void TestTqInstrument::loadParam_data()
{
    QTest::addColumn<QByteArray>("memory");
    QTest::addColumn<QByteArray>("expected"); // first bytes of the block after load

    const QByteArray mask = QByteArray::fromHex("0300000000000000");
    QTest::newRow("8-byte block") << le32(8) + QByteArray::fromHex("05000000") + mask
                                  << le32(8) + QByteArray::fromHex("05000000");
    QTest::newRow("size 4 reads 8 bytes")
        << le32(4) + QByteArray::fromHex("AABBCCDD") << le32(4) + QByteArray::fromHex("AABBCCDD");
    QTest::newRow("12-byte block, short memory padded with zeros")
        << le32(12) + QByteArray::fromHex("0102030405") << le32(12) + QByteArray::fromHex("010203040500000000000000");
    QTest::newRow("huge size is capped") << le32(0xFFFFFFFF) + QByteArray(300, '\x11')
                                         << le32(0xFFFFFFFF) + QByteArray(252, '\x11');
}

void TestTqInstrument::loadParam()
{
    QFETCH(QByteArray, memory);
    QFETCH(QByteArray, expected);
    MemoryInstrument instrument;
    instrument.memory = memory;
    instrument.block.fill('\x7F');
    QVERIFY(instrument.loadParam());
    QCOMPARE(instrument.block.left(expected.size()), expected);
    // Whatever the block holds beyond what was read is zero.
    QCOMPARE(instrument.block.mid(expected.size()), QByteArray(256 - expected.size(), '\0'));
}

void TestTqInstrument::loadParamFailures()
{
    MemoryInstrument instrument;
    instrument.block.fill('\x7F');
    instrument.noDevice = true;
    QVERIFY(!instrument.loadParam());
    instrument.noDevice = false;
    instrument.memory = QByteArray::fromHex("0800");
    QVERIFY(!instrument.loadParam());
    QCOMPARE(instrument.block, QByteArray(256, '\x7F'));
}

void TestTqInstrument::saveParam()
{
    MemoryInstrument instrument;
    instrument.memory = QByteArray(16, '\xEE');
    instrument.block.replace(0, 8, le32(8) + le32(0x201));
    QVERIFY(instrument.saveParam());
    QCOMPARE(instrument.memory, le32(8) + le32(0x201) + QByteArray(8, '\xEE'));

    MemoryInstrument noDevice;
    noDevice.noDevice = true;
    QVERIFY(!noDevice.saveParam());
}

void TestTqInstrument::isValidParam()
{
    MemoryInstrument instrument;
    QVERIFY(!instrument.isValidParam());
    instrument.block.replace(0, 4, le32(8));
    QVERIFY(instrument.isValidParam());
    QCOMPARE(firstWord(instrument.block), 8u);

    // Without a block of the driver's there is nothing valid.
    Instrument bare(nullptr);
    QVERIFY(!bare.isValidParam());
    QVERIFY(!bare.loadParam());
    QVERIFY(!bare.saveParam());
    QCOMPARE(bare.worklist(), nullptr);
}

void TestTqInstrument::runningSignals()
{
    MemoryInstrument instrument;
    QSignalSpy spy(&instrument, &Instrument::runningChanged);
    instrument.setRunning();
    instrument.setRunning();
    QVERIFY(instrument.isRunning());
    instrument.setStopped();
    QVERIFY(!instrument.isRunning());
    QCOMPARE(spy.count(), 2);
}

QTEST_GUILESS_MAIN(TestTqInstrument)
#include "tst_tqinstrument.moc"
