#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Framing of analyzer lines on the serial link.
//
//   STX seq address ':' payload ETX crc CR
//
//   STX 0x02, ETX 0x03, CR 0x0D.
//   seq      one character '0'-'9' or 'A'-'F'. A reply carries the sequence
//            character of its request; a request sent again after a time-out
//            or a bad check keeps its character, so the analyzer answers a
//            repeat from its last reply instead of running the command twice.
//   address  1 to 16 characters from A-Z a-z 0-9 '_' '-' '.': the analyzer's
//            identifier. The address "*" with an empty payload asks the line
//            which analyzers it serves; the reply, also addressed "*", is
//            their identifiers separated by commas.
//   payload  the request or reply line without its line end. The bytes STX,
//            ETX, CR and DLE (0x10) are sent as DLE followed by the byte plus
//            0x40 ("\x10B", "\x10C", "\x10M", "\x10P"); every other byte
//            passes as it is.
//   crc      crc16 (CCITT, initial 0xFFFF) of every byte between STX and ETX
//            as sent, i.e. after escaping, as four upper-case hex digits.
namespace linkframe {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char CR = 0x0D;
constexpr char DLE = 0x10;

// Longest frame accepted, from STX to CR; longer input is discarded.
constexpr int MaxFrameSize = 8192;
constexpr int MaxAddressSize = 16;

const QByteArray BroadcastAddress = QByteArrayLiteral("*");

struct Frame
{
    char seq = '0';
    QByteArray address;
    QByteArray payload;

    bool operator==(const Frame& other) const
    {
        return seq == other.seq && address == other.address && payload == other.payload;
    }
};

bool isValidAddress(QByteArrayView address);
bool isValidSeq(char seq);
char nextSeq(char seq);

// The whole frame, ready to send. An invalid address or sequence character
// gives an empty result.
QByteArray encode(const Frame& frame);

// What the decoder found in the byte stream.
struct Event
{
    enum Kind {
        Good,     // a frame whose check matches
        BadCheck, // a complete frame whose crc does not match
        Malformed // a frame cut short by a new STX, too long, with a bad
                  // escape, address or sequence, or without its CR
    };
    Kind kind = Good;
    Frame frame;    // for Good, and for BadCheck as far as it parses
    QByteArray raw; // the bytes of the frame as received
};

// Accumulates bytes from the line and yields every frame they complete, in
// order. Bytes outside a frame (line noise, a stray CR) are dropped.
class Decoder
{
public:
    QList<Event> feed(QByteArrayView bytes);
    // Bytes of a frame begun but not yet complete.
    bool inFrame() const { return m_inFrame; }
    void reset();

private:
    void finish(QList<Event>* events);
    void abort(QList<Event>* events);

    QByteArray m_raw;
    qsizetype m_etx = -1; // position of ETX in m_raw once seen
    bool m_inFrame = false;
};

} // namespace linkframe

// Both hold only implicitly shared byte arrays: a list of them may grow by
// moving their bytes, without constructing each one anew.
Q_DECLARE_TYPEINFO(linkframe::Frame, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(linkframe::Event, Q_RELOCATABLE_TYPE);
