#include "hostservice.h"

#include <tqcore/instrument.h>
#include <tqcore/optionframe.h>

#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

namespace hostservice {
namespace {

void out(const QString& text)
{
    std::fputs(qUtf8Printable(text), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool save(QWidget* widget, const QDir& dir, const QString& name)
{
    const QString file = dir.filePath(name + QStringLiteral(".png"));
    if (!widget->grab().save(file)) {
        std::fprintf(stderr, "velahost: cannot write %s\n", qUtf8Printable(file));
        return false;
    }
    out(QStringLiteral("Saved %1").arg(file));
    return true;
}

// Saves every option page, each made current in the frame so that it is
// laid out as the operator sees it.
bool grabPages(QMainWindow* window, OptionFrame* frame, const QDir& dir)
{
    auto* stack = frame->findChild<QStackedWidget*>();
    bool ok = stack != nullptr;
    for (QWidget* page : frame->pages()) {
        if (stack)
            stack->setCurrentWidget(page);
        QApplication::processEvents();
        ok = save(window, dir, QString::fromLatin1(page->metaObject()->className()).toLower()) && ok;
    }
    return ok;
}

// The manual test dialog runs modally inside showManualTest(); it is saved
// and closed from the event loop of that modal run.
bool grabManualTest(Instrument* instrument, const QDir& dir)
{
    bool saved = false;
    bool seen = false;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        seen = true;
        poll.stop();
        saved = save(dialog, dir, QStringLiteral("manualtest"));
        dialog->close();
    });
    poll.start();
    instrument->showManualTest();
    poll.stop();
    if (!seen)
        std::fprintf(stderr, "velahost: the manual test dialog did not open\n");
    return seen && saved;
}

} // namespace

int exec(Instrument* instrument, const QString& grabDir)
{
    instrument->connectToHost();
    const bool connected = instrument->isConnected();
    out(connected ? QStringLiteral("Connected") : QStringLiteral("Not connected: the pages work without the analyzer"));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("velahost service"));
    auto* central = new QWidget(&window);
    auto* layout = new QVBoxLayout(central);
    auto* frame = new OptionFrame(central);
    instrument->addOptionPages(frame);
    layout->addWidget(frame);
    auto* manual = new QPushButton(QObject::tr("手动测试"), central);
    layout->addWidget(manual, 0, Qt::AlignLeft);
    window.setCentralWidget(central);
    instrument->setupStatusBar(&window);
    QObject::connect(manual, &QPushButton::clicked, instrument, [instrument] { instrument->showManualTest(); });

    QTimer statusPoll;
    QObject::connect(&statusPoll, &QTimer::timeout, instrument, [instrument] { instrument->pollStatus(); });
    QTimer tempPoll;
    QObject::connect(&tempPoll, &QTimer::timeout, instrument, [instrument] { instrument->pollTemperatures(); });
    if (connected) {
        instrument->pollStatus();
        instrument->pollTemperatures();
        statusPoll.start(2000);
        tempPoll.start(5000);
    }

    int code = 0;
    window.resize(980, 560);
    window.show();
    if (grabDir.isEmpty()) {
        code = QApplication::exec();
    } else {
        const QDir dir(grabDir);
        if (!QDir().mkpath(grabDir)) {
            std::fprintf(stderr, "velahost: cannot make %s\n", qUtf8Printable(grabDir));
            code = 1;
        } else {
            const bool pages = grabPages(&window, frame, dir);
            const bool dialog = grabManualTest(instrument, dir);
            code = pages && dialog && connected ? 0 : 1;
        }
    }
    statusPoll.stop();
    tempPoll.stop();
    instrument->disconnectFromHost();
    return code;
}

} // namespace hostservice
