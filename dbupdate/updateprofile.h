#pragma once

#include "updatebase.h"

// Upgrader of "profile.db", the settings, users, reagents and calibrations,
// to schema version 3.
class UpdateProfile : public UpdateBase
{
    Q_OBJECT
public:
    explicit UpdateProfile(QObject* parent = nullptr);
    int targetVersion() const override { return 3; }
    bool upgrade() override;

private:
    bool createUserTables();
    void updateCurveSchema();
    void updateCalibrationSchema();
    void writeVersion();
    bool writeDefaultSettings();
    void updateCalibrations();
};
