#pragma once

#include "sim/simanalyzer.h"

#include <QByteArray>
#include <QList>

// What answers the requests that reach the analyzers' end of the serial
// line: the simulated analyzers, or a recorded session played back.
class AnalyzerBackend
{
public:
    virtual ~AnalyzerBackend() = default;
    virtual QList<QByteArray> identifiers() const = 0;
    virtual bool serves(const QByteArray& address) const = 0;
    virtual SimReply handle(const QByteArray& address, const QByteArray& payload) = 0;
};
