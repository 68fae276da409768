#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

// A small scripted analyzer for the scheduler and result tests: it keeps the
// tests placed with 31, answers 32 with running replies until a test has
// been asked often enough, then with a final reply, serves the curve with 60
// and releases with 34. Behaviour is set through the public fields before or
// between passes.
class FakeAnalyzer
{
public:
    struct Test
    {
        quint32 id = 0;
        QByteArray position, item, factor, method;
        int queries = 0;
        bool released = false;
    };

    QByteArray handle(const QByteArray& request);

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
                                 const QByteArray& factor, char method, int channel, int error,
                                 int testTime, int prewarmTimeout);
    // The points start .. start+count-1 of a curve of total points: 0x1000 + i
    // (repeating after 0xE000 points).
    static QByteArray curveReply(int start, int count, int total);

private:
    mutable QMutex m_mutex;
    QList<Test> m_tests;
    int m_released = 0;
};
