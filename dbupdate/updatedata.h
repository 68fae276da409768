#pragma once

#include "updatebase.h"

// Upgrader of "data.db", the patients and results, to schema version 2.
class UpdateData : public UpdateBase
{
    Q_OBJECT
public:
    explicit UpdateData(QObject* parent = nullptr);
    int targetVersion() const override { return 2; }
    bool upgrade() override;
};
