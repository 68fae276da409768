#pragma once

#include <tqcore/instrumentplugin.h>

// Plug-in entry of the driver: one instrument model, key "InstrVela".
class InstrVelaPlugin : public InstrumentPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID InstrumentFactoryInterface_iid FILE "instrvela.json")
    Q_INTERFACES(InstrumentFactoryInterface)

public:
    explicit InstrVelaPlugin(QObject* parent = nullptr);

    QStringList keys() const override;
    // A new InstrVela for "InstrVela" (the caller owns it); null otherwise.
    Instrument* create(const QString& key, Workbench* workbench) override;
};
