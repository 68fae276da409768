#pragma once

#include <QByteArray>

#include <exception>

// The driver's internal failure: an error reply met inside a sequence of
// analyzer commands. checkReply() throws it; the operation that began the
// sequence catches it, so it never leaves the instrument object.
class ReplyError : public std::exception
{
public:
    explicit ReplyError(const QByteArray& reply)
        : m_reply(reply)
    {
    }

    const QByteArray& reply() const noexcept { return m_reply; }
    const char* what() const noexcept override { return m_reply.constData(); }

private:
    QByteArray m_reply;
};
