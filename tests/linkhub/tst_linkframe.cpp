// Serial-line frames, request-line splitting and the analyzer end of the
// line, without sockets or ports.

#include "core/tqglobal.h"
#include "platform/linewire/linesplitter.h"
#include "platform/linewire/linkframe.h"
#include "sim/simbus.h"
#include "sim/simclock.h"
#include "sim/velasim/frameresponder.h"

#include <QTest>

using linkframe::Decoder;
using linkframe::Event;
using linkframe::Frame;

Q_DECLARE_METATYPE(Frame)

namespace {

QList<Event> feedByteAtATime(Decoder& decoder, const QByteArray& bytes)
{
    QList<Event> events;
    for (char c : bytes)
        events += decoder.feed(QByteArrayView(&c, 1));
    return events;
}

} // namespace

class tst_LinkFrame : public QObject
{
    Q_OBJECT

private slots:
    void knownFrame();
    void roundTrip_data();
    void roundTrip();
    void encodeRejects_data();
    void encodeRejects();
    void severalFramesInOneChunk();
    void partialFrameAtTheEnd();
    void damaged_data();
    void damaged();
    void resyncAfterDamage();
    void overlongFrameDiscarded();
    void sequenceCycles();

    void splitLines_data();
    void splitLines();
    void splitAcrossChunks();
    void responderAnswersRepeatFromLastReply();
    void responderIgnoresOthers();
    void responderCorruptsEveryNth();
};

void tst_LinkFrame::knownFrame()
{
    // STX '3' "VELA01" ':' "73" ETX crc16("3VELA01:73") CR
    const QByteArray frame = linkframe::encode({'3', "VELA01", "73"});
    QCOMPARE(frame.left(12), QByteArray("\x02"
                                        "3VELA01:73\x03"));
    QCOMPARE(frame.size(), 17);
    QCOMPARE(frame.right(1), QByteArray("\r"));
    const QByteArray body = "3VELA01:73";
    QCOMPARE(frame.mid(12, 4),
             QByteArray::number(crc16(body.constData(), int(body.size())), 16).toUpper().rightJustified(4, '0'));
}

void tst_LinkFrame::roundTrip_data()
{
    QTest::addColumn<Frame>("frame");
    QTest::newRow("command") << Frame{'0', "VELA01", "3100000001A1"};
    QTest::newRow("empty payload") << Frame{'F', "A", ""};
    QTest::newRow("enumeration") << Frame{'7', "*", ""};
    QTest::newRow("id list") << Frame{'7', "*", "VELA01,VELA02"};
    QTest::newRow("control bytes escaped") << Frame{'9', "X-1.b_2", QByteArray("\x02\x03\r\x10\x10\x40", 6)};
    QTest::newRow("GBK label") << Frame{'A', "VELA01", "32 \xb2\xe2\xca\xd4\xca\xb1\xbc\xe4:0456"};
    QTest::newRow("NUL and LF") << Frame{'1', "VELA01", QByteArray("a\0b\nc", 5)};
    QTest::newRow("colon in payload") << Frame{'2', "VELA01", "a:b:c"};
    QTest::newRow("16-char address") << Frame{'3', "ABCDEFGHIJKLMNOP", "x"};
    QTest::newRow("long payload") << Frame{'4', "VELA01", QByteArray(4000, '\x03')};
}

void tst_LinkFrame::roundTrip()
{
    QFETCH(Frame, frame);
    const QByteArray bytes = linkframe::encode(frame);
    QVERIFY(!bytes.isEmpty());
    QCOMPARE(bytes.count(linkframe::STX), 1);
    QCOMPARE(bytes.count(linkframe::ETX), 1);

    Decoder whole;
    const QList<Event> events = whole.feed(bytes);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].kind, Event::Good);
    QCOMPARE(events[0].frame, frame);
    QCOMPARE(events[0].raw, bytes);
    QVERIFY(!whole.inFrame());

    Decoder bytewise;
    const QList<Event> slow = feedByteAtATime(bytewise, bytes);
    QCOMPARE(slow.size(), 1);
    QCOMPARE(slow[0].kind, Event::Good);
    QCOMPARE(slow[0].frame, frame);
}

void tst_LinkFrame::encodeRejects_data()
{
    QTest::addColumn<Frame>("frame");
    QTest::newRow("empty address") << Frame{'0', "", "73"};
    QTest::newRow("17-char address") << Frame{'0', "ABCDEFGHIJKLMNOPQ", "73"};
    QTest::newRow("colon in address") << Frame{'0', "VE:LA", "73"};
    QTest::newRow("space in address") << Frame{'0', "VELA 01", "73"};
    QTest::newRow("lower-case seq") << Frame{'a', "VELA01", "73"};
    QTest::newRow("seq G") << Frame{'G', "VELA01", "73"};
    QTest::newRow("too long") << Frame{'0', "VELA01", QByteArray(linkframe::MaxFrameSize, 'x')};
}

void tst_LinkFrame::encodeRejects()
{
    QFETCH(Frame, frame);
    QVERIFY(linkframe::encode(frame).isEmpty());
}

void tst_LinkFrame::severalFramesInOneChunk()
{
    const Frame a{'1', "VELA01", "73 22.0"};
    const Frame b{'2', "VELA02", QByteArray("\x02\r", 2)};
    const Frame c{'3', "*", "VELA01,VELA02"};
    Decoder decoder;
    const QList<Event> events = decoder.feed("noise" + linkframe::encode(a) + "\r\n" + linkframe::encode(b)
                                             + linkframe::encode(c));
    QCOMPARE(events.size(), 3);
    QCOMPARE(events[0].frame, a);
    QCOMPARE(events[1].frame, b);
    QCOMPARE(events[2].frame, c);
    for (const Event& e : events)
        QCOMPARE(e.kind, Event::Good);
}

void tst_LinkFrame::partialFrameAtTheEnd()
{
    const QByteArray first = linkframe::encode({'1', "VELA01", "first"});
    const QByteArray second = linkframe::encode({'2', "VELA01", "second"});
    Decoder decoder;

    // Every cut of the second frame leaves it pending until the rest comes.
    for (int cut = 1; cut < second.size(); ++cut) {
        decoder.reset();
        QList<Event> events = decoder.feed(first + second.left(cut));
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].frame.payload, QByteArray("first"));
        QVERIFY(decoder.inFrame());
        events = decoder.feed(second.mid(cut));
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].kind, Event::Good);
        QCOMPARE(events[0].frame.payload, QByteArray("second"));
    }
}

void tst_LinkFrame::damaged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");

    const QByteArray good = linkframe::encode({'5', "VELA01", "3200000001"});
    QByteArray flipped = good;
    flipped[10] = char(flipped[10] ^ 0x01);
    QTest::newRow("payload bit flipped") << flipped << int(Event::BadCheck);
    QByteArray wrongCrc = good;
    wrongCrc[good.size() - 2] = wrongCrc[good.size() - 2] == '0' ? '1' : '0';
    QTest::newRow("crc digit changed") << wrongCrc << int(Event::BadCheck);
    QByteArray lowerHex = good;
    lowerHex[good.size() - 5] = 'g';
    QTest::newRow("crc not hex") << lowerHex << int(Event::Malformed);
    QByteArray noCr = good;
    noCr[good.size() - 1] = '\n';
    QTest::newRow("LF instead of CR") << noCr << int(Event::Malformed);

    // Valid check over a body that does not parse.
    auto withCrc = [](const QByteArray& body) {
        return "\x02" + body + "\x03"
               + QByteArray::number(crc16(body.constData(), int(body.size())), 16).toUpper().rightJustified(4, '0')
               + "\r";
    };
    QTest::newRow("no colon") << withCrc("5VELA01") << int(Event::Malformed);
    QTest::newRow("bad seq") << withCrc("xVELA01:73") << int(Event::Malformed);
    QTest::newRow("bad address") << withCrc("5VE LA:73") << int(Event::Malformed);
    QTest::newRow("bad escape") << withCrc("5VELA01:\x10Z") << int(Event::Malformed);
    QTest::newRow("escape at end") << withCrc("5VELA01:ab\x10") << int(Event::Malformed);
    // A CR travels escaped; one bare in the payload is a broken frame, even
    // under a matching check (it could not be sent back as it came).
    QTest::newRow("bare CR in payload") << withCrc("5VELA01:73\rab") << int(Event::Malformed);
    QTest::newRow("cut by new STX") << good.left(8) + good << int(Event::Malformed);
}

void tst_LinkFrame::damaged()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    Decoder decoder;
    const QList<Event> events = decoder.feed(bytes);
    QVERIFY(!events.isEmpty());
    QCOMPARE(int(events[0].kind), kind);
}

void tst_LinkFrame::resyncAfterDamage()
{
    const QByteArray good = linkframe::encode({'6', "VELA01", "ok"});
    QByteArray bad = good;
    bad[9] = char(bad[9] ^ 0x01);
    Decoder decoder;
    const QList<Event> events = feedByteAtATime(decoder, bad + "\xff\xfe" + good.left(5) + good);
    QCOMPARE(events.size(), 3);
    QCOMPARE(events[0].kind, Event::BadCheck);
    QCOMPARE(events[1].kind, Event::Malformed);
    QCOMPARE(events[2].kind, Event::Good);
    QCOMPARE(events[2].frame.payload, QByteArray("ok"));
}

void tst_LinkFrame::overlongFrameDiscarded()
{
    Decoder decoder;
    QByteArray endless = "\x02"
                         "1VELA01:"
                         + QByteArray(linkframe::MaxFrameSize * 2, 'x');
    const QList<Event> events = decoder.feed(endless);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].kind, Event::Malformed);
    QVERIFY(!decoder.inFrame());
    const QList<Event> after = decoder.feed(linkframe::encode({'2', "VELA01", "next"}));
    QCOMPARE(after.size(), 1);
    QCOMPARE(after[0].frame.payload, QByteArray("next"));
}

void tst_LinkFrame::sequenceCycles()
{
    QByteArray seen;
    char seq = '0';
    for (int i = 0; i < 16; ++i) {
        seen.append(seq);
        seq = linkframe::nextSeq(seq);
    }
    QCOMPARE(seen, QByteArray("0123456789ABCDEF"));
    QCOMPARE(seq, '0');
    QCOMPARE(linkframe::nextSeq('z'), '0');
}

void tst_LinkFrame::splitLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QByteArray>>("lines"); // "<overlong>" for an overlong one
    QTest::addColumn<int>("pending");

    QTest::newRow("CR LF") << QByteArray("73\r\n") << QList<QByteArray>{"73"} << 0;
    QTest::newRow("bare LF") << QByteArray("73\n") << QList<QByteArray>{"73"} << 0;
    QTest::newRow("empty lines") << QByteArray("\r\n\n") << QList<QByteArray>{"", ""} << 0;
    QTest::newRow("inner CR kept") << QByteArray("a\rb\r\n") << QList<QByteArray>{"a\rb"} << 0;
    QTest::newRow("binary") << QByteArray("\x00\xff\x02\r\n", 5) << QList<QByteArray>{QByteArray("\x00\xff\x02", 3)}
                            << 0;
    QTest::newRow("several and a partial")
        << QByteArray("/00SIM\r\n/010\r\n/02VE") << QList<QByteArray>{"/00SIM", "/010"} << 5;
    QTest::newRow("exactly at the limit") << QByteArray(16, 'a') + "\r\n"
                                          << QList<QByteArray>{QByteArray(16, 'a')} << 0;
    QTest::newRow("one over the limit") << QByteArray(17, 'a') + "\r\n" << QList<QByteArray>{"<overlong>"} << 0;
    QTest::newRow("overlong, then short") << QByteArray(100, 'a') + "\nok\n"
                                          << QList<QByteArray>{"<overlong>", "ok"} << 0;
    QTest::newRow("overlong unterminated") << QByteArray(100, 'a') << QList<QByteArray>{} << 0;
}

void tst_LinkFrame::splitLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(int, pending);

    for (bool bytewise : {false, true}) {
        LineSplitter splitter(16);
        QList<LineSplitter::Line> got;
        if (bytewise) {
            for (char c : bytes)
                got += splitter.feed(QByteArrayView(&c, 1));
        } else {
            got = splitter.feed(bytes);
        }
        QList<QByteArray> texts;
        for (const LineSplitter::Line& l : got)
            texts.append(l.overlong ? QByteArray("<overlong>") : l.text);
        QCOMPARE(texts, lines);
        QCOMPARE(int(splitter.pending()), pending);
    }
}

void tst_LinkFrame::splitAcrossChunks()
{
    LineSplitter splitter(16);
    QVERIFY(splitter.feed(QByteArray(10, 'a')).isEmpty());
    QVERIFY(splitter.feed(QByteArray(10, 'a')).isEmpty()); // now over the limit
    QVERIFY(splitter.feed("more").isEmpty());
    const QList<LineSplitter::Line> lines = splitter.feed("\r\n73\r");
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines[0].overlong);
    const QList<LineSplitter::Line> next = splitter.feed("\n");
    QCOMPARE(next.size(), 1);
    QCOMPARE(next[0].text, QByteArray("73"));
}

void tst_LinkFrame::responderAnswersRepeatFromLastReply()
{
    // The second "73" would get an error reply if the analyzer saw it.
    SimConfig config;
    QString error;
    QVERIFY2(SimConfig::parseFaults(QStringLiteral("error:73,after=1"), &config.faults, &error), qPrintable(error));
    ManualClock clock;
    SimBus bus(config, &clock);
    FrameResponder responder(&bus);

    const QByteArray request = linkframe::encode({'4', "VELA01", "73"});
    QList<FrameResponder::Output> first = responder.feed(request);
    QCOMPARE(first.size(), 1);
    QList<FrameResponder::Output> repeat = responder.feed(request);
    QCOMPARE(repeat.size(), 1);
    QCOMPARE(repeat[0].bytes, first[0].bytes);
    QVERIFY(first[0].bytes.contains(":73"));

    Decoder decoder;
    const QList<FrameResponder::Output> next = responder.feed(linkframe::encode({'5', "VELA01", "73"}));
    QCOMPARE(next.size(), 1);
    const QList<Event> events = decoder.feed(next[0].bytes);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].frame.seq, '5');
    QVERIFY2(events[0].frame.payload.startsWith("73XX"), events[0].frame.payload.constData());
}

void tst_LinkFrame::responderIgnoresOthers()
{
    SimConfig config;
    config.ids = {"VELA01", "VELA02"};
    ManualClock clock;
    SimBus bus(config, &clock);
    FrameResponder responder(&bus);

    QByteArray bad = linkframe::encode({'1', "VELA01", "73"});
    bad[3] = char(bad[3] ^ 0x01);
    QVERIFY(responder.feed(bad).isEmpty());
    QCOMPARE(responder.badFramesReceived(), 1);
    QVERIFY(responder.feed(linkframe::encode({'1', "OTHER", "73"})).isEmpty());
    QVERIFY(responder.feed(linkframe::encode({'1', "*", "x"})).isEmpty());

    const QList<FrameResponder::Output> list = responder.feed(linkframe::encode({'2', "*", ""}));
    QCOMPARE(list.size(), 1);
    Decoder decoder;
    const QList<Event> events = decoder.feed(list[0].bytes);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].frame.payload, QByteArray("VELA01,VELA02"));
    QCOMPARE(events[0].frame.address, QByteArray("*"));
}

void tst_LinkFrame::responderCorruptsEveryNth()
{
    SimConfig config;
    ManualClock clock;
    SimBus bus(config, &clock);
    FrameResponder responder(&bus);
    responder.setCorruptEvery(3);

    QList<int> kinds;
    char seq = '0';
    for (int i = 0; i < 6; ++i) {
        const QList<FrameResponder::Output> out = responder.feed(linkframe::encode({seq, "VELA01", "FB1"}));
        QCOMPARE(out.size(), 1);
        Decoder decoder;
        const QList<Event> events = decoder.feed(out[0].bytes);
        QCOMPARE(events.size(), 1);
        kinds.append(int(events[0].kind));
        seq = linkframe::nextSeq(seq);
    }
    const int good = int(Event::Good), bad = int(Event::BadCheck);
    QCOMPARE(kinds, (QList<int>{good, good, bad, good, good, bad}));
}

QTEST_GUILESS_MAIN(tst_LinkFrame)
#include "tst_linkframe.moc"
