#include "tqcore/instrumentplugin.h"

InstrumentFactoryInterface::~InstrumentFactoryInterface() = default;

InstrumentPlugin::InstrumentPlugin(QObject* parent)
    : QObject(parent)
{
}

InstrumentPlugin::~InstrumentPlugin() = default;
