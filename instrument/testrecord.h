#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QtGlobal>

class Assay;

// One test of the run scheduler, copied by value between the pending and the
// running list of the instrument object.
struct TestRecord
{
    enum Phase {
        Prepared = 0, // pending, not yet sent
        Placed = 1,   // accepted by the analyzer (command 31)
        Final = 2     // final result received, release (command 34) due
    };

    quint32 testId = 0; // also the assay's temporary value "vela/id"
    int phase = Prepared;
    QString sample;          // the assay's sample number, for the placement journal
    QString samplePosition;  // the assay's sample position ("A1"), for the journal
    QByteArray positionCode; // two characters, sample position
    QByteArray itemCode;     // first two characters of the assay name
    int dilutionFactor = 1;  // reciprocal of the assay's dilution
    QString method;          // the assay's method; empty: the instrument's default
    QPointer<Assay> assay;   // null once the host deleted the assay
    bool shadow = false;     // demonstration test, never sent to the analyzer
    int failedQueries = 0;   // result replies in a row that did not parse
    int refusals = 0;        // placements in a row the analyzer refused
    // A 31 went out and its answer was lost: the analyzer may hold the test.
    // Before it is placed again, a 32 asks (the same test id either way).
    bool placementUnknown = false;
    // Recorded in the placement journal as about to be placed.
    bool journalled = false;
    // The analyzer holds another test under this id: a fresh id is due.
    bool idClash = false;
};
