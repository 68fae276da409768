#include "fakeanalyzer.h"

#include <QMutexLocker>
#include <QTextCodec>

QByteArray FakeAnalyzer::gbk(const QString& text)
{
    return QTextCodec::codecForName("GBK")->fromUnicode(text);
}

QByteArray FakeAnalyzer::runningReply(quint32 id, int prewarm, int testTime)
{
    QString text = QStringLiteral("3205 %1B1PT01L2024120814300000 预温时间:%2")
                       .arg(id, 8, 16, QLatin1Char('0'))
                       .arg(prewarm, 4, 16, QLatin1Char('0'));
    if (testTime >= 0)
        text += QStringLiteral(" 测试时间:%1").arg(testTime, 4, 16, QLatin1Char('0'));
    return gbk(text.toUpper());
}

QByteArray FakeAnalyzer::finalReply(quint32 id, const QByteArray& position, const QByteArray& item,
                                    const QByteArray& factor, char method, int channel, int error,
                                    int testTime, int prewarmTimeout)
{
    // channel at p-8, error at p-5 of the test-time label at p
    auto hex = [](qulonglong v, int width) { return QByteArray::number(v, 16).rightJustified(width, '0').toUpper(); };
    const QByteArray fixed = "320F " + hex(id, 8) + position + item + factor + method
        + "2024120814300000 " + hex(qulonglong(channel), 2) + ' ' + hex(qulonglong(error), 2) + "   ";
    QString text = QString::fromLatin1(fixed);
    text += QStringLiteral("测试时间:") + QString::number(testTime, 16).rightJustified(4, u'0').toUpper();
    if (prewarmTimeout >= 0)
        text += QStringLiteral(" 预温超时时间:") + QString::number(prewarmTimeout, 16).rightJustified(4, u'0').toUpper();
    return gbk(text);
}

QByteArray FakeAnalyzer::curveReply(int start, int count, int total)
{
    QByteArray field;
    for (int i = start; i < start + count && i < total; ++i)
        field += QByteArray::number(0x1000 + i % 0xE000, 16).rightJustified(4, '0').toUpper();
    if (start + count > total)
        field += "0000";
    return "60-" + field + "-";
}

QByteArray FakeAnalyzer::handle(const QByteArray& request)
{
    QMutexLocker lock(&m_mutex);
    const QByteArray code = request.left(2);
    const quint32 id = request.mid(2, 8).toUInt(nullptr, 16);
    auto find = [&]() -> Test* {
        for (Test& t : m_tests) {
            if (t.id == id)
                return &t;
        }
        return nullptr;
    };

    if (code == "31") {
        if (freeCount < 0)
            return "3100";
        Test t;
        t.id = id;
        t.position = request.mid(10, 2);
        t.item = request.mid(12, 2);
        t.factor = request.mid(14, 2);
        t.method = request.mid(16, 1);
        m_tests.append(t);
        return "3111" + QByteArray::number(freeCount, 16).rightJustified(2, '0').toUpper();
    }
    if (code == "32") {
        Test* t = find();
        if (!t || t->released)
            return "32XX";
        if (!resultReplyOverride.isEmpty())
            return resultReplyOverride;
        if (t->queries++ < runningReplies)
            return runningReply(id, 0x10, t->queries == 1 ? -1 : 0x0132);
        return finalReply(id, t->position, t->item, t->factor, t->method.at(0), 3, 0,
                          clotHundredths, 0x12C);
    }
    if (code == "34") {
        if (refusedReleases > 0) {
            --refusedReleases;
            return "3400C0";
        }
        if (Test* t = find()) {
            t->released = true;
            ++m_released;
        }
        return "3400";
    }
    if (code == "60") {
        const int start = request.mid(10, 4).toInt(nullptr, 16);
        const int count = request.mid(14, 2).toInt(nullptr, 16);
        if (pointCount == 0)
            return "6000";
        return curveReply(start, count, pointCount);
    }
    if (code == "24")
        return "Sensor-0-";
    if (code == "73")
        return "73 37.0 25.0 25.0 25.0 25.0 37.0 8.0 22.0 22.0";
    return code + "XX";
}

QList<FakeAnalyzer::Test> FakeAnalyzer::tests() const
{
    QMutexLocker lock(&m_mutex);
    return m_tests;
}

FakeAnalyzer::Test FakeAnalyzer::test(quint32 id) const
{
    QMutexLocker lock(&m_mutex);
    for (const Test& t : m_tests) {
        if (t.id == id)
            return t;
    }
    return Test();
}

int FakeAnalyzer::released() const
{
    QMutexLocker lock(&m_mutex);
    return m_released;
}
