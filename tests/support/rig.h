#pragma once

// The driver on a workbench, talking through its real talk thread to the
// scripted analyzer behind a line server on a free port; message boxes are
// recorded. Header only: tests that include it link the driver
// (instrvela_static).

#include "fakeanalyzer.h"
#include "lineserver.h"

#include "instrvela.h"
#include "talkthread.h"

#include "core/messagepresenter.h"
#include "core/profile.h"

#include <tqcore/assay.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include <QDir>

#include <QScopedPointer>
#include <QTemporaryDir>
#include <QWidget>
#include <atomic>

// The analyzer runs the test cycle and fails unknown commands ("XX").
struct Rig
{
    Rig()
    {
        qputenv("VELA_LINKHUB_PORT", server.portText());
        // A placement journal of this rig's own: no test of another case is
        // taken for one of an earlier session.
        qputenv("VELA_JOURNAL", journalDir.filePath(QStringLiteral("placements.db")).toLocal8Bit());
        server.setHandler(analyzer.handler());
        workbench.reset(new Workbench);
        instrument.reset(new InstrVela(workbench.data()));
        connected = instrument->talkThread()->open();
    }
    ~Rig()
    {
        instrument.reset();
        workbench.reset();
    }

    Worklist* worklist() const { return workbench->worklist(); }
    Assay* addAssay(const QString& sample, const QString& position, const QString& item,
                    const QString& dilution = QStringLiteral("1/1"))
    {
        auto* a = new Assay(sample, position, item);
        a->setDilution(dilution);
        worklist()->append(a);
        return a;
    }
    void pass()
    {
        const std::atomic<bool> stop{false};
        instrument->schedulePass(&stop);
    }

    QTemporaryDir journalDir;
    tq::MessageRecorder messages;
    FakeAnalyzer analyzer{FakeAnalyzer::Tests, "XX"};
    LineServer server;
    QScopedPointer<Workbench> workbench;
    QScopedPointer<InstrVela> instrument;
    bool connected = false;
};

// The rig for the service pages: the analyzer answers the arms' completion
// polls and every other command with its code and "00", unless scripted.
struct PageRig : Rig
{
    PageRig() { analyzer.setServes(FakeAnalyzer::Polls, "00"); }
    FakeAnalyzer* const script = &analyzer;
};

// The named child widget of a page; a missing one ends the test program.
template <class T>
T* child(QWidget& page, const QString& name)
{
    T* w = page.findChild<T*>(name);
    if (!w)
        qFatal("no widget %s", qPrintable(name));
    return w;
}

// Every test runs in a folder of its own with a fresh settings store; the
// store's complaint about the missing tables is recorded, not shown.
inline void openSettingsInTemporaryFolder()
{
    static QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    static tq::MessageRecorder startup;
    Profile::instance();
}
