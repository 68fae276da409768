#pragma once

#include "updatebase.h"

// Upgrader of "qc.db": the current release needs nothing changed in it.
class UpdateQc : public UpdateBase
{
    Q_OBJECT
public:
    explicit UpdateQc(QObject* parent = nullptr);
    int targetVersion() const override { return -1; }
    bool upgrade() override;
};
