#pragma once

#include "fakeanalyzer.h"
#include "lineserver.h"

#include "instrvela.h"
#include "talkthread.h"

#include "core/messagepresenter.h"

#include <tqcore/assay.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include <QScopedPointer>

// An instrument object talking to a scripted analyzer through its real talk
// thread, over a line server on a free port; message boxes are recorded.
struct Rig
{
    Rig()
    {
        const quint16 port = server.listen();
        qputenv("VELA_LINKHUB_PORT", QByteArray::number(port));
        server.setHandler([this](const QByteArray& request) { return analyzer.handle(request); });
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

    tq::MessageRecorder messages;
    FakeAnalyzer analyzer;
    LineServer server;
    QScopedPointer<Workbench> workbench;
    QScopedPointer<InstrVela> instrument;
    bool connected = false;
};
