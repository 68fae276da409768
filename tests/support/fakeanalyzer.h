#pragma once

#include "lineserver.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

// A scripted analyzer to put behind a LineServer. A request gets, in this
// order, the first answer that applies:
//   1. the script: a hang-up, the exact reply, the next of a sequence of
//      replies (the last one stays), the reply set for its command code;
//   2. with Polls served, the completion polls of the arms (53, 54, 55 with
//      one digit): "<code>01" (busy) busyPolls times, then "<code>00", or
//      the poll reply when one is set;
//   3. with Memory served, 4C and 4D on a 64 KiB memory;
//   4. with Tests served, the test cycle: it keeps the tests placed with 31,
//      answers 32 with running replies until a test has been asked often
//      enough, then with a final reply, serves the curve with 60, releases
//      with 34, and answers 24 and 73 with quiet readings;
//   5. its command code followed by the fallback ("00" unless set).
// Handlers run in the server's thread; the script calls lock.
class FakeAnalyzer
{
public:
    enum Serve { Polls = 0x1, Memory = 0x2, Tests = 0x4 };

    struct Test
    {
        quint32 id = 0;
        QByteArray position, item, factor, method;
        int queries = 0;
        bool released = false;
    };

    explicit FakeAnalyzer(int serves = Memory, const QByteArray& fallback = "00");

    // The answer, and the same as one reply line without its end (a
    // hang-up gives an empty line there).
    LineServer::Reply answer(const QByteArray& request);
    QByteArray handle(const QByteArray& request);
    LineServer::Handler handler()
    {
        return [this](const QByteArray& line) { return answer(line); };
    }

    void setServes(int serves, const QByteArray& fallback);

    // The script.
    void setReply(const QByteArray& request, const QByteArray& reply);
    void setHangUp(const QByteArray& request);
    void setSequence(const QByteArray& request, const QList<QByteArray>& replies);
    void setCodeReply(const QByteArray& code, const QByteArray& reply);
    void setBusyPolls(int n);
    // Answers every completion poll with reply (an empty line too).
    void setPollReply(const QByteArray& reply);

    // Memory (4C/4D).
    void writeMemory(int address, const QByteArray& bytes);
    QByteArray memory(int address, int count) const;

    // The test cycle, set before or between passes.
    // 31: accepted with this many further places; -1 refuses.
    int freeCount = 0xFF;
    // 32: running replies before the final one (per test).
    int runningReplies = 1;
    int clotHundredths = 3000;
    int pointCount = 120;
    // 34: this many releases are refused ("3400C0") before one is accepted.
    int refusedReleases = 0;
    // Replaces the 32 reply when set (e.g. a reply that does not parse).
    QByteArray resultReplyOverride;

    QList<Test> tests() const;
    Test test(quint32 id) const;
    int released() const;

    static QByteArray gbk(const QString& text);
    // Replies as the analyzer writes them.
    static QByteArray runningReply(quint32 id, int prewarm, int testTime);
    static QByteArray finalReply(quint32 id, const QByteArray& position, const QByteArray& item,
                                 const QByteArray& factor, char method, int channel, int error, int testTime,
                                 int prewarmTimeout);
    // The points start .. start+count-1 of a curve of total points: 0x1000 + i
    // (repeating after 0xE000 points).
    static QByteArray curveReply(int start, int count, int total);

private:
    bool scripted(const QByteArray& request, LineServer::Reply* reply);
    bool poll(const QByteArray& request, QByteArray* reply);
    bool memoryCommand(const QByteArray& request, QByteArray* reply);
    bool testCycle(const QByteArray& request, QByteArray* reply);

    mutable QMutex m_mutex;
    int m_serves;
    QByteArray m_fallback;
    QHash<QByteArray, QByteArray> m_replies;
    QSet<QByteArray> m_hangUps;
    QHash<QByteArray, QList<QByteArray>> m_sequences;
    QHash<QByteArray, QByteArray> m_codeReplies;
    int m_busyPolls = 0;
    int m_busyLeft = 0;
    QByteArray m_pollReply;
    bool m_hasPollReply = false;
    QByteArray m_memory;
    QList<Test> m_tests;
    int m_released = 0;
};
