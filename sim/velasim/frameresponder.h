#pragma once

#include "platform/linewire/linkframe.h"
#include "sim/velasim/analyzerbackend.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>

#include <memory>

class SimBus;
class WireTrace;

// The analyzer end of the framed serial line: request frames in, reply
// frames out, for the analyzers of one bus (or a recorded session played
// back).
//
// - A frame to an address nobody on the bus has is left unanswered, as on a
//   shared line; so is a frame that fails its check (the sender repeats it).
// - A repeat (same sequence character and text as the last request to that
//   address) is answered from the last reply; the command does not run
//   twice. Silence stays silence on repeats.
// - The enumeration frame (address "*", empty text) is answered with the
//   bus's identifiers separated by commas.
// - With corruptEvery n > 0, every n-th reply frame leaves with one bit of
//   its text flipped, so that its check fails.
class FrameResponder
{
public:
    struct Output
    {
        QByteArray bytes;  // frame to send (empty with drop)
        int delayMs = 0;   // wait this long before sending
        bool drop = false; // hang up the line instead of replying
    };

    explicit FrameResponder(SimBus* bus, WireTrace* trace = nullptr);
    explicit FrameResponder(AnalyzerBackend* backend, WireTrace* trace = nullptr);
    ~FrameResponder();

    void setCorruptEvery(int n) { m_corruptEvery = n; }
    QList<Output> feed(QByteArrayView bytes);

    int framesSent() const { return m_sent; }
    int badFramesReceived() const { return m_badReceived; }

    // One bit of the frame's text flipped (exposed for tests).
    static QByteArray corrupted(const QByteArray& frame);

private:
    struct Last
    {
        char seq = 0;
        QByteArray request;
        QByteArray reply;
        bool silent = false;
        bool drop = false;
        int delayMs = 0;
    };

    bool answer(const linkframe::Frame& request, Output* out);
    QByteArray finish(const QByteArray& frame);

    std::unique_ptr<AnalyzerBackend> m_ownBackend;
    AnalyzerBackend* m_backend;
    WireTrace* m_trace;
    linkframe::Decoder m_decoder;
    QHash<QByteArray, Last> m_last;
    int m_corruptEvery = 0;
    int m_sent = 0;
    int m_badReceived = 0;
};
