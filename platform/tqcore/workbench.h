#pragma once

#include "tqcore/tqcore_global.h"

#include <QHash>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QReadWriteLock>
#include <QString>
#include <QVariant>
#include <QVariantMap>

class AnalysisDoc;
class AssayManager;
class Instrument;
class ReagentManager;
class ResourceManager;
class Worklist;

// The host's hub: settings, temporary values, message boxes, the managers,
// the worklist and the instrument.
//
// Thread safety: value, tmpValue, setTmpValue, instrInfo, information and
// critical may be called from any thread. The managers and the document are
// for the GUI thread.
class TQCORE_EXPORT Workbench : public QObject
{
    Q_OBJECT

public:
    explicit Workbench(QObject* parent = nullptr);
    ~Workbench() override;

    // The workbench made last and still alive (TqApp's statics use it);
    // null when there is none.
    static Workbench* current();

    // A setting of Profile::instance().
    QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const;

    // Temporary values of this run ("debug/sim", "debug/active", "vela/added");
    // kept in memory only, behind a read/write lock. The values are shared
    // with TqApp::tmpValue/setTmpValue (one table per process).
    QVariant tmpValue(const QString& key, const QVariant& defaultValue = QVariant()) const;
    void setTmpValue(const QString& key, const QVariant& value);

    // Facts about the instrument model. "method": QStringList of measuring
    // methods, {"光学法", "磁珠法"} unless set otherwise.
    QVariantMap instrInfo() const;
    void setInstrInfo(const QString& key, const QVariant& value);

    // Message boxes through tq::presentMessage (core/messagepresenter.h):
    // the installed presenter answers them. A tq::MessageRecorder answers in
    // the calling thread at once; the default presenter shows the modal box
    // in the GUI thread (waiting for it when called from another thread).
    QMessageBox::StandardButton information(const QString& text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    QMessageBox::StandardButton critical(const QString& text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    ReagentManager* reagentManager() const { return m_reagentManager; }
    ResourceManager* resourceManager() const { return m_resourceManager; }
    AssayManager* assayManager() const { return m_assayManager; }
    AnalysisDoc* analysisDoc() const { return m_analysisDoc; }

    // The instrument the host works with; null until setInstrument. The
    // workbench does not own it.
    Instrument* instrument() const;
    void setInstrument(Instrument* instrument);

    // The host's worklist, owned by the workbench; never null.
    Worklist* worklist() const { return m_worklist; }

private:
    ReagentManager* m_reagentManager;
    ResourceManager* m_resourceManager;
    AssayManager* m_assayManager;
    AnalysisDoc* m_analysisDoc;
    Worklist* m_worklist;
    QPointer<Instrument> m_instrument;
    mutable QReadWriteLock m_infoLock;
    QVariantMap m_instrInfo;
};
