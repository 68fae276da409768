#include "tqcore/workbench.h"

#include "tqcore/analysisdoc.h"
#include "tqcore/assaytemplate.h"
#include "tqcore/instrument.h"
#include "tqcore/resource.h"
#include "tqcore/tqapp.h"
#include "tqcore/worklist.h"

#include "core/messagepresenter.h"
#include "core/profile.h"

#include <QPointer>

namespace {
QPointer<Workbench> currentWorkbench;
} // namespace

Workbench::Workbench(QObject* parent)
    : QObject(parent)
    , m_reagentManager(new ReagentManager(this))
    , m_resourceManager(new ResourceManager(this))
    , m_assayManager(new AssayManager(this))
    , m_analysisDoc(new AnalysisDoc(this))
    , m_worklist(new Worklist(this))
{
    m_instrInfo.insert(QStringLiteral("method"), QStringList{QStringLiteral("光学法"), QStringLiteral("磁珠法")});
    currentWorkbench = this;
}

Workbench::~Workbench()
{
    // The worklist's assays go before the instrument would see them again.
    m_worklist->clear();
}

Workbench* Workbench::current()
{
    return currentWorkbench;
}

QVariant Workbench::value(const QString& key, const QVariant& defaultValue) const
{
    return Profile::instance().value(key, defaultValue);
}

QVariant Workbench::tmpValue(const QString& key, const QVariant& defaultValue) const
{
    return TqApp::tmpValue(key, defaultValue);
}

void Workbench::setTmpValue(const QString& key, const QVariant& value)
{
    TqApp::setTmpValue(key, value);
}

QVariantMap Workbench::instrInfo() const
{
    const QReadLocker locker(&m_infoLock);
    return m_instrInfo;
}

void Workbench::setInstrInfo(const QString& key, const QVariant& value)
{
    const QWriteLocker locker(&m_infoLock);
    if (value.isValid())
        m_instrInfo.insert(key, value);
    else
        m_instrInfo.remove(key);
}

QMessageBox::StandardButton Workbench::information(const QString& text, QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton)
{
    return tq::presentMessage(QMessageBox::Information, text, buttons, defaultButton);
}

QMessageBox::StandardButton Workbench::critical(const QString& text, QMessageBox::StandardButtons buttons,
                                                QMessageBox::StandardButton defaultButton)
{
    return tq::presentMessage(QMessageBox::Critical, text, buttons, defaultButton);
}

Instrument* Workbench::instrument() const
{
    return m_instrument;
}

void Workbench::setInstrument(Instrument* instrument)
{
    m_instrument = instrument;
}
