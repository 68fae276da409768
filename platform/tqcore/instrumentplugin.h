#pragma once

#include "tqcore/tqcore_global.h"

#include <QObject>
#include <QStringList>
#include <QtPlugin>

class Instrument;
class Workbench;

// What a driver plug-in offers: the keys of its instrument models and a
// factory for them.
class TQCORE_EXPORT InstrumentFactoryInterface
{
public:
    virtual ~InstrumentFactoryInterface();
    virtual QStringList keys() const = 0;
    // A new instrument for key (the caller owns it), or null for a key the
    // plug-in does not know.
    virtual Instrument* create(const QString& key, Workbench* workbench) = 0;
};

#define InstrumentFactoryInterface_iid "org.vela.tq.InstrumentFactoryInterface/1.0"
Q_DECLARE_INTERFACE(InstrumentFactoryInterface, InstrumentFactoryInterface_iid)

// Base of a driver's plug-in object. The driver derives from it, adds
//   Q_PLUGIN_METADATA(IID InstrumentFactoryInterface_iid FILE "instrvela.json")
// (the JSON lists its keys, e.g. {"Keys": ["InstrVela"]}) and implements
// keys() and create().
class TQCORE_EXPORT InstrumentPlugin : public QObject, public InstrumentFactoryInterface
{
    Q_OBJECT
    Q_INTERFACES(InstrumentFactoryInterface)

public:
    explicit InstrumentPlugin(QObject* parent = nullptr);
    ~InstrumentPlugin() override;
};
