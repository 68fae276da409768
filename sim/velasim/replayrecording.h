#pragma once

#include "sim/velasim/analyzerbackend.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The analyzer's side of a session recorded in Linkhub's wire trace, played
// back to a driver. The driver polls as its timing goes, so the replay does
// not answer line by line but by what a request is about:
//
// - per test: its placements (31, or 5E of a manual test) and its 32 and 34
//   replies each in their recorded order, the last one repeated while more
//   come; its curve chunks (60) by their start;
// - other commands by kind (command code): the next recorded request of
//   that kind with the same text, or failing that the latest one before.
//
// Test ids are seeded from the clock, so the driver's ids differ from the
// recording's: the n-th test the driver places is the recording's n-th, and
// its id is put into the replies that carry one (32, 60).
//
// A request that does not fit (another kind, other fields, a test or chunk
// the recording lacks) is a mismatch: the first one is kept with what was
// expected and where in the trace; it is answered with an error reply.
// Requests the recording left unanswered, or answered with Linkhub's
// "Err:" (the analyzer was silent), get no answer.
class ReplayRecording : public AnalyzerBackend
{
public:
    // Reads trace files, and folders of them (a ring, oldest first), in the
    // order given. Lines outside [from, to] (their time, as written) are
    // left out when those are set. False with `error` when nothing usable
    // was read.
    bool load(const QStringList& sources, QString* error, const QByteArray& from = {}, const QByteArray& to = {});

    QList<QByteArray> identifiers() const override;
    bool serves(const QByteArray& address) const override;
    SimReply handle(const QByteArray& address, const QByteArray& payload) override;

    int requests() const { return m_requests; }
    int mismatches() const { return m_mismatches; }
    QString firstMismatch() const { return m_firstMismatch; }
    int recordedTests(const QByteArray& analyzer) const;

private:
    struct Exchange
    {
        QByteArray request;
        QByteArray reply;
        bool answered = false;
        QString where; // file:line of the request
    };
    struct Test
    {
        QByteArray id; // as recorded
        QList<Exchange> placements, statuses, releases;
        QMap<QByteArray, Exchange> chunks; // by first point, 4 hex digits
        int placementAt = 0, statusAt = 0, releaseAt = 0;
        bool released = false;
        bool placed = false;
    };
    struct Analyzer
    {
        QList<Test> tests;                         // placed ones in order of placement
        QHash<QByteArray, int> current;            // recorded id -> its test while loading
        QHash<QByteArray, QList<Exchange>> others; // by command code
        QHash<QByteArray, int> othersAt;
        QHash<QByteArray, int> mapped; // driver's id -> test
        int nextPlacement = 0;
    };

    void addExchange(const QByteArray& analyzer, const Exchange& exchange);
    SimReply replay(Analyzer& a, const QByteArray& request);
    SimReply fromSequence(QList<Exchange>& list, int* at, const QByteArray& recordedId, const QByteArray& id);
    SimReply mismatch(const QByteArray& request, const QByteArray& expected, const QString& where);
    static SimReply answerOf(const Exchange& e, const QByteArray& recordedId = {}, const QByteArray& id = {});

    QMap<QByteArray, Analyzer> m_analyzers;
    QList<QByteArray> m_listed; // the last /01 answer recorded
    int m_requests = 0;
    int m_mismatches = 0;
    QString m_firstMismatch;
};
