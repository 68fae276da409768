#include "fakeanalyzer.h"

#include <QMutexLocker>
#include <QTextCodec>

FakeAnalyzer::FakeAnalyzer(int serves, const QByteArray& fallback)
    : m_serves(serves)
    , m_fallback(fallback)
    , m_memory(0x10000, '\0')
{
}

void FakeAnalyzer::setServes(int serves, const QByteArray& fallback)
{
    QMutexLocker lock(&m_mutex);
    m_serves = serves;
    m_fallback = fallback;
}

void FakeAnalyzer::setReply(const QByteArray& request, const QByteArray& reply)
{
    QMutexLocker lock(&m_mutex);
    m_replies.insert(request, reply);
}

void FakeAnalyzer::setHangUp(const QByteArray& request)
{
    QMutexLocker lock(&m_mutex);
    m_hangUps.insert(request);
}

void FakeAnalyzer::setSequence(const QByteArray& request, const QList<QByteArray>& replies)
{
    QMutexLocker lock(&m_mutex);
    m_sequences.insert(request, replies);
}

void FakeAnalyzer::setCodeReply(const QByteArray& code, const QByteArray& reply)
{
    QMutexLocker lock(&m_mutex);
    m_codeReplies.insert(code, reply);
}

void FakeAnalyzer::setBusyPolls(int n)
{
    QMutexLocker lock(&m_mutex);
    m_busyPolls = m_busyLeft = n;
}

void FakeAnalyzer::setPollReply(const QByteArray& reply)
{
    QMutexLocker lock(&m_mutex);
    m_pollReply = reply;
    m_hasPollReply = true;
}

void FakeAnalyzer::writeMemory(int address, const QByteArray& bytes)
{
    QMutexLocker lock(&m_mutex);
    m_memory.replace(address, bytes.size(), bytes);
}

QByteArray FakeAnalyzer::memory(int address, int count) const
{
    QMutexLocker lock(&m_mutex);
    return m_memory.mid(address, count);
}

LineServer::Reply FakeAnalyzer::answer(const QByteArray& request)
{
    QMutexLocker lock(&m_mutex);
    LineServer::Reply reply;
    if (scripted(request, &reply))
        return reply;
    QByteArray text;
    if (!((m_serves & Polls) && poll(request, &text)) && !((m_serves & Memory) && memoryCommand(request, &text))
        && !((m_serves & Tests) && testCycle(request, &text)))
        text = request.left(2) + m_fallback;
    return LineServer::line(text);
}

QByteArray FakeAnalyzer::handle(const QByteArray& request)
{
    QByteArray line = answer(request).bytes;
    if (line.endsWith("\r\n"))
        line.chop(2);
    return line;
}

bool FakeAnalyzer::scripted(const QByteArray& request, LineServer::Reply* reply)
{
    if (m_hangUps.contains(request)) {
        *reply = LineServer::hangUp();
        return true;
    }
    if (m_replies.contains(request)) {
        *reply = LineServer::line(m_replies.value(request));
        return true;
    }
    auto sequence = m_sequences.find(request);
    if (sequence != m_sequences.end() && !sequence->isEmpty()) {
        *reply = LineServer::line(sequence->size() > 1 ? sequence->takeFirst() : sequence->first());
        return true;
    }
    const auto byCode = m_codeReplies.constFind(request.left(2));
    if (byCode != m_codeReplies.constEnd()) {
        *reply = LineServer::line(*byCode);
        return true;
    }
    return false;
}

bool FakeAnalyzer::poll(const QByteArray& request, QByteArray* reply)
{
    const QByteArray code = request.left(2);
    if ((code != "53" && code != "54" && code != "55") || request.size() != 3)
        return false;
    if (m_hasPollReply) {
        *reply = m_pollReply;
    } else if (m_busyLeft > 0) {
        --m_busyLeft;
        *reply = code + "01";
    } else {
        m_busyLeft = m_busyPolls;
        *reply = code + "00";
    }
    return true;
}

bool FakeAnalyzer::memoryCommand(const QByteArray& request, QByteArray* reply)
{
    if (request.startsWith("4C") && request.size() == 8) {
        const int address = request.mid(2, 4).toInt(nullptr, 16);
        const int count = request.mid(6, 2).toInt(nullptr, 16);
        *reply = "4C" + m_memory.mid(address, count).toHex().toUpper();
        return true;
    }
    if (request.startsWith("4D") && request.size() >= 8) {
        const int address = request.mid(2, 4).toInt(nullptr, 16);
        const QByteArray bytes = QByteArray::fromHex(request.mid(8));
        m_memory.replace(address, bytes.size(), bytes);
        *reply = "4D00";
        return true;
    }
    return false;
}

bool FakeAnalyzer::testCycle(const QByteArray& request, QByteArray* reply)
{
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
        if (freeCount < 0) {
            *reply = "3100";
            return true;
        }
        Test t;
        t.id = id;
        t.position = request.mid(10, 2);
        t.item = request.mid(12, 2);
        t.factor = request.mid(14, 2);
        t.method = request.mid(16, 1);
        m_tests.append(t);
        *reply = "3111" + QByteArray::number(freeCount, 16).rightJustified(2, '0').toUpper();
    } else if (code == "32") {
        Test* t = find();
        if (!t || t->released)
            *reply = "32XX";
        else if (!resultReplyOverride.isEmpty())
            *reply = resultReplyOverride;
        else if (t->queries++ < runningReplies)
            *reply = runningReply(id, 0x10, t->queries == 1 ? -1 : 0x0132);
        else
            *reply = finalReply(id, t->position, t->item, t->factor, t->method.at(0), 3, 0, clotHundredths, 0x12C);
    } else if (code == "34") {
        if (refusedReleases > 0) {
            --refusedReleases;
            *reply = "3400C0";
            return true;
        }
        if (Test* t = find()) {
            t->released = true;
            ++m_released;
        }
        *reply = "3400";
    } else if (code == "60") {
        const int start = request.mid(10, 4).toInt(nullptr, 16);
        const int count = request.mid(14, 2).toInt(nullptr, 16);
        *reply = pointCount == 0 ? QByteArray("6000") : curveReply(start, count, pointCount);
    } else if (code == "24") {
        *reply = "Sensor-0-";
    } else if (code == "73") {
        *reply = "73 37.0 25.0 25.0 25.0 25.0 37.0 8.0 22.0 22.0";
    } else {
        return false;
    }
    return true;
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
                                    const QByteArray& factor, char method, int channel, int error, int testTime,
                                    int prewarmTimeout)
{
    // channel at p-8, error at p-5 of the test-time label at p
    auto hex = [](qulonglong v, int width) { return QByteArray::number(v, 16).rightJustified(width, '0').toUpper(); };
    const QByteArray fixed = "320F " + hex(id, 8) + position + item + factor + method + "2024120814300000 "
                             + hex(qulonglong(channel), 2) + ' ' + hex(qulonglong(error), 2) + "   ";
    QString text = QString::fromLatin1(fixed);
    text += QStringLiteral("测试时间:") + QString::number(testTime, 16).rightJustified(4, u'0').toUpper();
    if (prewarmTimeout >= 0)
        text += QStringLiteral(" 预温超时时间:")
                + QString::number(prewarmTimeout, 16).rightJustified(4, u'0').toUpper();
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
