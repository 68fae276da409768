#include "testtime.h"

#include <QtGlobal>

namespace testsupport {

int timeFactor()
{
    bool ok = false;
    const int factor = qEnvironmentVariableIntValue("VELA_TEST_TIME_FACTOR", &ok);
    return ok ? qBound(1, factor, 100) : 1;
}

int scaled(int ms)
{
    return ms * timeFactor();
}

} // namespace testsupport
