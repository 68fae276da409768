#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

struct sqlite3;

// The durable record of every test the driver places on the analyzer, so
// that a host that dies mid-run loses no result, leaves no test behind and
// places none twice.
//
// Each change is committed and synced before the act it records: a test is
// journalled as about to be placed before its 31 goes out, its result before
// it is handed on, its release after the 34 was answered. The file is an
// SQLite database in write-ahead-log mode with synchronous=FULL: a commit
// that returned survives a crash of the process and a power cut.
//
// One connection serves every thread (the worker, the GUI thread of the
// manual tests, the reconnect thread): SQLite serialises it, and the
// journal's own mutex keeps each read-modify-write whole.
//
// Sessions: every opening of the driver's link begins one; a clean stop
// ends it. A result read in a session that did not end cleanly may be given
// again to the assay that the restarted host queues anew, until a later
// session ends cleanly.
class PlacementJournal
{
public:
    enum State { AboutToPlace = 0, Accepted = 1, ResultRead = 2, Released = 3 };

    struct Test
    {
        quint32 testId = 0;
        qint64 session = 0;
        QString sample;      // the assay's sample number
        QString place;       // the sample position as the host names it ("A1")
        QByteArray position; // position code, two characters
        QByteArray item;     // item code, two characters
        int dilution = 1;    // dilution factor
        QByteArray method;   // method letter, C or L
        State state = AboutToPlace;
        // Filled once the result was read (state ResultRead or Released).
        bool hasResult = false;
        double value = 0.0;
        int error = 0;   // the result's error code
        int channel = 0; // measuring channel
        int flags = 0;   // the result's flags
        QString errorText;
        QString report;            // the assay's message (the analyzer's report)
        QByteArray curve;          // the curve in its buffer format
        qint64 givenInSession = 0; // last session it was given to an assay from here
        QString reason;            // why it was released (when not by its assay)

        // The fields the analyzer echoes in its 32 reply, and the sample.
        bool sameOrder(const Test& other) const;
    };

    PlacementJournal() = default;
    ~PlacementJournal();
    PlacementJournal(const PlacementJournal&) = delete;
    PlacementJournal& operator=(const PlacementJournal&) = delete;

    // Opens (or makes) the journal file. A file that is not a journal or is
    // damaged is renamed aside (its name then ends in ".damaged-" and the
    // time) and a new one is made: *notice says so, for the operator. False
    // with *error when no journal can be kept there.
    bool open(const QString& fileName, QString* error, QString* notice = nullptr);
    bool isOpen() const;
    void close();
    QString fileName() const { return m_fileName; }

    // Released tests are forgotten this many days after their release.
    static constexpr int keptDays = 30;

    // Begins a session; its number is session(); released tests older than
    // keptDays go.
    bool beginSession(QString* error);
    qint64 session() const { return m_session; }
    // The newest session that ended cleanly (0: none).
    qint64 lastCleanSession() const;
    // The current session ends cleanly: nothing read before it is given again.
    bool endSession(QString* error);

    // Write-ahead: the test is about to be placed (before its 31).
    bool recordPlacing(const Test& test, QString* error);
    bool setState(quint32 testId, State state, QString* error);
    // The result read for the test, before it is handed to the assay.
    bool recordResult(const Test& test, QString* error);
    // The result was given to an assay in this session from the journal.
    bool markGiven(quint32 testId, QString* error);
    // Released (34 answered) or given up; reason says why when not by its own assay.
    bool recordRelease(quint32 testId, const QString& reason, QString* error);
    // The test id changed before the test was placed (an id clash).
    bool changeId(quint32 from, quint32 to, QString* error);

    // Tests not yet released, oldest first.
    QList<Test> unreleased() const;
    // Released tests whose result may still be given (see the class comment).
    QList<Test> givable() const;
    bool holdsUnreleased(quint32 testId) const;
    // The newest test id journalled (0: none).
    quint32 newestId() const;

private:
    bool exec(const char* sql, QString* error) const;
    bool setUp(QString* error);
    QString lastError() const;

    mutable QMutex m_mutex;
    sqlite3* m_db = nullptr;
    QString m_fileName;
    qint64 m_session = 0;
};
