// Calls into the installed core library through its installed headers.
#include "core/analysisresult.h"
#include "core/tqglobal.h"

#include <cstdio>

int main()
{
    const QByteArray bytes("123456789");
    std::printf("fraction %g crc16 %04x not clotted %.1f\n", fraction(QStringLiteral("1/4")),
                unsigned(crc16(bytes.constData(), int(bytes.size()))), AnalysisResult::notClottedValue);
    return 0;
}
