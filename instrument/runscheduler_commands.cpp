// The commands of one test: placing it (31), with what a lost answer or a
// clashing id asks for, and releasing it (34).
#include "runscheduler.h"

#include "instrvela.h"

#include "commandcodec.h"
#include "linktrace.h"
#include "replyparser.h"
#include "velaprotocol.h"

// 31: "31" test id (8 hex), sample position code (2), item code (2),
// dilution factor (2 decimal), method letter (C bead, L optical).
// Accepted: "3111" and the number of further tests the analyzer takes now
// (2 hex).
//
// A 31 may reach the analyzer and its answer be lost (no reply, the link
// broke or timed out, Linkhub said "Err:..."): the record is then marked,
// and the next try asks "32" for its test id first. A known test that echoes
// the record's fields counts as placed (freeCount -1: not known); "32XX"
// means it never arrived, and the 31 goes out again with the same id. So a
// test is placed once, never twice.
//
// A test the analyzer holds under the record's id with other fields is not
// ours (a test left from before a restart, say): the id clashes, and the
// record is marked idClash for the caller to give it a fresh id. The same
// is asked with a 32 when a 31 is refused with an error reply ("31XX").
bool RunScheduler::startTest(TestRecord& record, int* freeCount, QByteArray* replyOut)
{
    // The method was read from the assay when the record was prepared: the
    // host may delete the assay at any time, so it is not looked at here.
    const QString method = record.method.isEmpty() ? m_instrument.defaultMethod() : record.method;
    const char letter = VelaProtocol::methodLetter(method);
    auto heldAs = [&](const QByteArray& known) {
        return ReplyParser::echoesOrder(known, record.positionCode, record.itemCode, record.dilutionFactor, letter);
    };
    record.idClash = false;
    if (record.placementUnknown) {
        const QByteArray known = m_instrument.protocol().queryTest(record.testId);
        if (known.startsWith("32XX")) {
            record.placementUnknown = false;
        } else if (ReplyParser::isKnownTest(known)) {
            record.placementUnknown = false;
            if (!heldAs(known)) {
                record.idClash = true;
                return false;
            }
            qCInfo(lcLink).nospace() << "test " << Qt::hex << record.testId
                                     << " had arrived before its answer was lost";
            if (freeCount)
                *freeCount = -1;
            return true;
        } else {
            return false; // still no answer: ask again on the next try
        }
    }

    const QByteArray reply = m_instrument.protocol().placeTest(record.testId, record.positionCode, record.itemCode,
                                                               record.dilutionFactor, method);
    if (replyOut)
        *replyOut = reply;
    const ReplyParser::PlacementReply placement = ReplyParser::parsePlacementReply(reply);
    if (!placement.accepted) {
        record.placementUnknown = ReplyParser::isLinkFault(reply);
        if (!record.placementUnknown && matchesErrorReply(reply)) {
            const QByteArray known = m_instrument.protocol().queryTest(record.testId);
            if (ReplyParser::isKnownTest(known)) {
                if (heldAs(known)) {
                    // Ours after all: an earlier 31 of this record arrived.
                    if (freeCount)
                        *freeCount = -1;
                    return true;
                }
                record.idClash = true;
            }
        }
        return false;
    }
    if (freeCount)
        *freeCount = placement.freeCount;
    return true;
}

// 34 cancels a test or releases a finished one; "3400C0" refuses. No reply
// is no release: the record stays and is released later.
bool RunScheduler::cancelTest(quint32 id)
{
    const QByteArray reply = m_instrument.protocol().releaseTest(id);
    return !reply.isEmpty() && !m_instrument.isErrorReply(reply) && !ReplyParser::isReleaseRefused(reply);
}
