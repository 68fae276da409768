// The commands about tests: placing, results, release, manual tests, curves.

#include "sim/simdevice.h"
#include "sim/simhandlers.h"
#include "sim/simhex.h"

#include <QTextCodec>
#include <QtDebug>

#include <algorithm>

namespace simcommands {

namespace {

// The three labels the 32 reply carries, in the analyzer's GBK encoding.
struct Labels
{
    QByteArray testTime, prewarmTime, prewarmTimeout;
    Labels()
    {
        QTextCodec* gbk = QTextCodec::codecForName("GBK");
        if (!gbk) {
            qWarning("velasim: no GBK codec; result labels fall back to fixed bytes");
            testTime = QByteArray("\xB2\xE2\xCA\xD4\xCA\xB1\xBC\xE4:");
            prewarmTime = QByteArray("\xD4\xA4\xCE\xC2\xCA\xB1\xBC\xE4:");
            prewarmTimeout = QByteArray("\xD4\xA4\xCE\xC2\xB3\xAC\xCA\xB1\xCA\xB1\xBC\xE4:");
            return;
        }
        testTime = gbk->fromUnicode(QStringLiteral("测试时间:"));
        prewarmTime = gbk->fromUnicode(QStringLiteral("预温时间:"));
        prewarmTimeout = gbk->fromUnicode(QStringLiteral("预温超时时间:"));
    }
};

const Labels& labels()
{
    static const Labels l;
    return l;
}

} // namespace

// 31 id(8) position(2) item(2) dilution(decimal, 2 or more) method(1):
// "3111" + free intake places after this one (2 hex); "3100" intake full
// (not accepted, offered again later); "31XX" bad field, id 0 or id in use.
QByteArray place31(SimDevice& device, const QByteArray& r)
{
    quint32 testId = 0;
    if (r.size() < 17 || r.size() > 20 || !simhex::read(r, 2, 8, &testId) || testId == 0)
        return "31XX";
    const QByteArray dil = r.mid(14, r.size() - 15);
    bool ok = false;
    const int dilution = dil.toInt(&ok, 10);
    if (!ok || dilution < 0 || !std::all_of(dil.begin(), dil.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "31XX";
    if (device.test(testId))
        return "31XX"; // the id is still in use on the analyzer
    if (device.freeIntakePlaces() == 0)
        return "3100";
    device.place(testId, r.mid(10, 2), r.mid(12, 2), dilution, r.at(r.size() - 1));
    return "3111" + simhex::field(quint32(device.freeIntakePlaces()), 2);
}

// 32 SS _ id(8) pos(2) item(2) dil(2) M date(16) _ CH _ EE ___ then the
// labelled fields; the test-time label comes first at character 45, so the
// channel sits at 37-38 (p-8) and the error code at 40-41 (p-5).
QByteArray result32(SimDevice& device, const QByteArray& r)
{
    quint32 testId = 0;
    if (r.size() != 10 || !simhex::read(r, 2, 8, &testId))
        return "32XX";
    const SimTest* t = device.test(testId);
    if (!t)
        return "32XX";

    const qint64 time = device.time();
    int testTime = 0;
    if (t->status == SimTest::Final)
        testTime = t->curve.reportedHundredths;
    else if (t->status == SimTest::Measuring)
        testTime = int(std::min<qint64>((time - t->measureStart) / 10, t->curve.reportedHundredths));
    qint64 prewarm = 0, overdue = 0;
    if (t->prewarmStart >= 0) {
        const qint64 until = t->measureStart >= 0 ? t->measureStart : time;
        prewarm = std::max<qint64>(0, until - t->prewarmStart) / 1000;
        overdue = std::max<qint64>(0, until - t->prewarmEnd) / 1000;
    }
    const QDateTime date = device.powerOn().addMSecs(t->placedAt);
    const Labels& l = labels();

    QByteArray reply = "32";
    reply += simhex::field(quint32(t->status), 2);
    reply += ' ';
    reply += simhex::field(t->id, 8);
    reply += printable(t->position, 2);
    reply += printable(t->item, 2);
    reply += QByteArray::number(std::clamp(t->dilution, 0, 99)).rightJustified(2, '0');
    reply += printable(QByteArray(1, t->method), 1);
    reply += date.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toLatin1();
    reply += ' ';
    reply += simhex::field(quint32(t->channel), 2);
    reply += ' ';
    reply += simhex::field(quint32(t->status == SimTest::Final ? t->errorCode : 0), 2);
    reply += "   ";
    reply += l.testTime + simhex::field(quint32(std::clamp(testTime, 0, 0xFFFF)), 4);
    reply += ' ' + l.prewarmTime + simhex::field(quint32(std::min<qint64>(prewarm, 0xFFFF)), 4);
    reply += ' ' + l.prewarmTimeout + simhex::field(quint32(std::min<qint64>(overdue, 0xFFFF)), 4);
    return reply;
}

// 34 id(8): "3400" released or cancelled (also for an id the analyzer does
// not hold: there is nothing left to release), "3400C0" while measuring.
QByteArray release34(SimDevice& device, const QByteArray& r)
{
    quint32 testId = 0;
    if (r.size() != 10 || !simhex::read(r, 2, 8, &testId))
        return "34XX";
    return device.release(testId) ? "3400" : "3400C0";
}

// 5E channel(1) id(8) position(2) item(2) dilution(2 hex) method(1): "5E00",
// the channel is held for the test until 5F starts it. "5EXX" when the
// channel is disabled or busy.
QByteArray manualSetUp5E(SimDevice& device, const QByteArray& r)
{
    quint32 channel = 0, testId = 0, dilution = 0;
    if (r.size() != 18 || !simhex::read(r, 2, 1, &channel) || channel < 1 || channel > SimDevice::channelCount
        || !simhex::read(r, 3, 8, &testId) || testId == 0 || !simhex::read(r, 15, 2, &dilution))
        return "5EXX";
    if (!device.setUpManual(int(channel), testId, r.mid(11, 2), r.mid(13, 2), int(dilution), r.at(17)))
        return "5EXX";
    return "5E00";
}

// 5F channel(1): "5F00", the set-up test measures from now on; "5FXX" when
// nothing is set up there.
QByteArray manualStart5F(SimDevice& device, const QByteArray& r)
{
    quint32 channel = 0;
    if (r.size() != 3 || !simhex::read(r, 2, 1, &channel) || channel < 1 || channel > SimDevice::channelCount)
        return "5FXX";
    return device.startManual(int(channel)) ? "5F00" : "5FXX";
}

// 60 id(8) first(4) count(2): "6001" id(8) first(4) n(2) "-" n points of
// four hex digits, "0000" after the last point of the curve, "-".
// "6000" when the test is unknown or not final.
QByteArray curve60(SimDevice& device, const QByteArray& r)
{
    quint32 testId = 0, first = 0, count = 0;
    if (r.size() != 16 || !simhex::read(r, 2, 8, &testId) || !simhex::read(r, 10, 4, &first)
        || !simhex::read(r, 14, 2, &count))
        return "60XX";
    const SimTest* t = device.test(testId);
    if (!t || t->status != SimTest::Final || t->curve.points.isEmpty())
        return "6000";
    const int size = t->curve.points.size();
    const int from = std::min(int(first), size);
    const int n = std::min(int(count), size - from);
    QByteArray field;
    field.reserve(4 * (n + 1));
    for (int i = from; i < from + n; ++i)
        field += simhex::field(t->curve.points.at(i), 4);
    if (from + n == size)
        field += "0000";
    return "6001" + simhex::field(testId, 8) + simhex::field(quint32(from), 4) + simhex::field(quint32(n), 2) + '-'
           + field + '-';
}

} // namespace simcommands
