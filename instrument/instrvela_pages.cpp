// The driver's pages in the host's options window.
#include "instrvela.h"

#include "connectionpage.h"
#include "debugpage1.h"
#include "probepositionpage.h"

#include <tqcore/optionframe.h>

#include <QTreeWidgetItem>

void InstrVela::addOptionPages(OptionFrame* frame)
{
    QTreeWidgetItem* item = frame->addItem(tr("仪器"));
    // The options window takes the pages over.
    frame->addItem(item, new ConnectionPage(this, nullptr));
    frame->addItem(item, new DebugPage1(this, nullptr));
    frame->addItem(item, new ProbePositionPage(this, nullptr));
}
