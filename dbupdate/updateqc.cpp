#include "updateqc.h"

UpdateQc::UpdateQc(QObject* parent)
    : UpdateBase(QStringLiteral("qc.db"), parent)
{
}

bool UpdateQc::upgrade()
{
    return true;
}
