#include "instrvelaplugin.h"

#include "instrvela.h"

static const char FactoryKey[] = "InstrVela";

InstrVelaPlugin::InstrVelaPlugin(QObject* parent)
    : InstrumentPlugin(parent)
{
}

QStringList InstrVelaPlugin::keys() const
{
    return QStringList(QString::fromLatin1(FactoryKey));
}

Instrument* InstrVelaPlugin::create(const QString& key, Workbench* workbench)
{
    if (key != QLatin1String(FactoryKey))
        return nullptr;
    return new InstrVela(workbench);
}
