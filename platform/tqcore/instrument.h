#pragma once

#include "tqcore/tqcore_global.h"

#include <QHash>
#include <QIODevice>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

class Assay;
class OptionFrame;
class QMainWindow;
class ResourceManager;
class Workbench;
class Worklist;

// Base of every instrument driver object. The host makes it through the
// plug-in's factory (instrumentplugin.h), owns it and calls its virtual
// slots; a driver overrides the ones it supports. The defaults below are the
// host's behaviour for an instrument that does not override them.
class TQCORE_EXPORT Instrument : public QObject
{
    Q_OBJECT

public:
    // Connection states.
    enum State { Disconnected = 0, Connected = 2 };

    explicit Instrument(Workbench* workbench);
    ~Instrument() override;

    Workbench* workbench() const { return m_workbench; }
    // The workbench's worklist; null without a workbench.
    Worklist* worklist() const;

    // Connection state, 0 (disconnected) or 2 (connected). setState emits
    // stateChanged when the state changes. Any thread.
    int state() const;
    void setState(int state);
    bool isConnected() const { return state() == Connected; }

    // True between setRunning() and setStopped() (the driver's worker runs).
    bool isRunning() const;

    // Message table: a text and a level for a status code. Level 1 is a
    // warning; above 1 an error. Registering a code again replaces it.
    void addMessage(int code, int level, const QString& text);
    // The registered text, or empty.
    QString findMessage(int code) const;
    // The registered level, or 0.
    int messageLevel(int code) const;
    // Every registered code, ascending.
    QList<int> messageCodes() const;

    // Records code (and text) as the current status of source, one code per
    // source, and returns the level of the code's registered message; an
    // unregistered code (0, or a sensor's all-clear 0x10000) gives 0 and
    // clears the source. Above 1 means error. Emits statusCodeChanged, in the
    // caller's thread with no lock held, when the source's code changes.
    // Any thread.
    int setStatusCode(int code, int source, const QString& text);
    // The current code of a source (0 when none), and every source whose
    // current code is not clear.
    int statusCode(int source) const;
    QHash<int, int> activeStatusCodes() const;

    // True between beginAssay(a) and endAssay(a): the assay is on the
    // analyzer. Any thread.
    bool containsAssay(Assay* assay) const;

    // The parameter block lives in analyzer memory at address 0 and is
    // moved through createParamDevice():
    // loadParam: opens a read device, reads the 4-byte little-endian size
    //   field at 0, then reads max(size, 8) bytes (at most 256) from 0,
    //   pads a short read with zeros and passes the bytes to setParamData.
    //   False when there is no device or not even the size field came back
    //   (the block is left alone then).
    // saveParam: opens a write device at 0 and writes the size-field bytes
    //   of paramData() (max(size, 8), at most 256); true when all were
    //   written. False without paramData() or a device.
    // isValidParam: paramData() is not null and its first uint32 is nonzero.
    bool loadParam();
    bool saveParam();
    bool isValidParam() const;

signals:
    void stateChanged(int state);
    void statusCodeChanged(int code, int source, int level);
    void runningChanged(bool running);
    void assayBegun(Assay* assay);
    void assayEnded(Assay* assay, bool ok);

public slots:
    void setRunning();
    void setStopped();

    // Called once after creation: the driver puts its own resources (buffer,
    // rinse) on rm. Default: nothing.
    virtual void createResources(ResourceManager* rm);
    // Default: false for every feature.
    virtual bool hasFeature(int feature) const;
    // Text describing the instrument. Default: class name, state and the
    // number of registered messages.
    virtual QString instrumentInfo() const;
    // Assays of one group run together. Default: the assay's item name.
    virtual QString assayGroup(Assay* assay) const;
    // Default: false (no diluent position needed).
    virtual bool needDilutionPos(Assay* assay) const;
    // Negative: a before b. Default: 0 (worklist order).
    virtual int compareAssayPriority(Assay* a, Assay* b) const;
    // Default: nothing.
    virtual void about();

    // Default connect: nothing (the driver connects and then calls this).
    virtual void connectToHost();
    virtual void disconnectFromHost();
    // Waits (processing events) until connected or msecs pass; true when connected.
    virtual bool waitForConnected(int msecs = 30000);

    // The driver's parameter block and its memory device. Defaults: null,
    // nothing, null.
    virtual void* paramData();
    virtual void setParamData(const void* block);
    virtual QIODevice* createParamDevice(QIODevice::OpenMode mode);

    // Default: nothing.
    virtual void addOptionPages(OptionFrame* frame);
    virtual void setupStatusBar(QMainWindow* window);
    virtual void showManualTest();
    virtual void initDebugger();
    virtual void debugCurve(Assay* assay);
    virtual void statisticCurve();
    // Default: true (nothing holds the host open).
    virtual bool canClose();
    // Default: true.
    virtual bool canPlace(Assay* assay);
    virtual void enableScanBarCode(bool enable);
    virtual bool isScanBarCodeEnabled() const;
    virtual void instantUpdate();
    // Default polls: nothing.
    virtual void pollStatus();
    virtual void pollTemperatures();
    // Default: false (no work started); halt: nothing.
    virtual bool startWork();
    virtual void haltWork();
    virtual void end();
    virtual void demo();
    // Clears every recorded status code and returns true.
    virtual bool reset();
    virtual void runModuleSequence();
    // Default: true / nothing.
    virtual bool sendReagentTable();
    virtual void readReagentVolumes();
    // begin: marks the assay as on the analyzer, emits assayBegun.
    // end: takes it off, marks it finished (status Finished when it was not
    // already), emits assayEnded(assay, ok). Null assays are ignored.
    // A driver's worker calls them holding the worklist's walking lock, so
    // that the assay cannot be deleted meanwhile: a slot connected directly
    // must not change the worklist.
    virtual void beginAssay(Assay* assay);
    virtual void endAssay(Assay* assay, bool ok);
    // The host deleted an assay: it is no longer on the analyzer.
    virtual void assayDestroyed(QObject* assay);
    // Takes the assay off the analyzer without finishing it.
    virtual void removeAssay(Assay* assay);

private:
    Workbench* m_workbench;
    mutable QMutex m_mutex;
    int m_state = Disconnected;
    bool m_running = false;
    struct Message
    {
        int level;
        QString text;
    };
    QHash<int, Message> m_messages;
    QHash<int, int> m_statusCodes;
    // The assays between beginAssay and endAssay, kept as QObject pointers:
    // assayDestroyed gets them while only their QObject part is left.
    QSet<const QObject*> m_onInstrument;
};
