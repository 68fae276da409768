// The manual test dialog, opened from the host's menu.
#include "instrvela.h"

#include "manualtest.h"

#include <QApplication>
#include <QPointer>

void InstrVela::showManualTest()
{
    // The dialog lives only while it is shown; the guard covers a parent
    // that goes away while it runs.
    QPointer<ManualTest> dialog = new ManualTest(workbench(), QApplication::activeWindow());
    dialog->exec();
    delete dialog.data();
}
