#include "core/messagepresenter.h"

#include "core/tqglobal.h"

#include <QApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <cstdio>
#include <memory>
#include <optional>

namespace tq {

namespace {

QMutex presenterMutex;
MessagePresenter& installedPresenter()
{
    static MessagePresenter presenter;
    return presenter;
}

// The answer a box gets when nobody can click it: the default button, else
// the first of the buttons.
QMessageBox::StandardButton automaticAnswer(QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton)
{
    if (defaultButton != QMessageBox::NoButton)
        return defaultButton;
    for (uint bit = QMessageBox::FirstButton; bit <= QMessageBox::LastButton; bit <<= 1) {
        if (buttons.testFlag(QMessageBox::StandardButton(bit)))
            return QMessageBox::StandardButton(bit);
    }
    return QMessageBox::NoButton;
}

const char* iconName(QMessageBox::Icon icon)
{
    switch (icon) {
    case QMessageBox::Information: return "information";
    case QMessageBox::Question: return "question";
    case QMessageBox::Warning: return "warning";
    case QMessageBox::Critical: return "critical";
    default: return "message";
    }
}

QMessageBox::StandardButton showModalBox(QMessageBox::Icon icon, const QString& text,
                                         QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton)
{
    WaitCursor arrow(Qt::ArrowCursor);
    QMessageBox box(icon, QCoreApplication::applicationName(), text, buttons, topLevelWidget(),
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}

QMessageBox::StandardButton defaultPresenter(QMessageBox::Icon icon, const QString& text,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        // No widgets can exist without a widget application: log the text
        // and answer as an unattended box would.
        qWarning("%s: %s", iconName(icon), qUtf8Printable(text));
        return automaticAnswer(buttons, defaultButton);
    }
    if (QThread::currentThread() != app->thread()) {
        // Widgets live in the GUI thread only; show the box there.
        QMessageBox::StandardButton answer = QMessageBox::NoButton;
        QMetaObject::invokeMethod(
            app, [&] { answer = showModalBox(icon, text, buttons, defaultButton); }, Qt::BlockingQueuedConnection);
        return answer;
    }
    return showModalBox(icon, text, buttons, defaultButton);
}

} // namespace

MessagePresenter setMessagePresenter(MessagePresenter p)
{
    QMutexLocker locker(&presenterMutex);
    MessagePresenter previous = std::move(installedPresenter());
    installedPresenter() = std::move(p);
    return previous;
}

QMessageBox::StandardButton presentMessage(QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton)
{
    MessagePresenter presenter;
    {
        QMutexLocker locker(&presenterMutex);
        presenter = installedPresenter();
    }
    // The presenter runs without the lock held: a box may itself cause
    // another box, or install a presenter.
    if (presenter)
        return presenter(icon, text, buttons, defaultButton);
    return defaultPresenter(icon, text, buttons, defaultButton);
}

// The recorded state is shared with the installed presenter function, so a
// box being answered on another thread while the recorder goes away still
// finds it alive.
struct RecorderState
{
    mutable QMutex mutex;
    QList<MessageRecorder::Message> messages;
    std::optional<QMessageBox::StandardButton> answer;
    bool echo = false;
};

struct MessageRecorder::Private
{
    std::shared_ptr<RecorderState> state = std::make_shared<RecorderState>();
    MessagePresenter previous;
};

MessageRecorder::MessageRecorder()
    : d(new Private)
{
    std::shared_ptr<RecorderState> state = d->state;
    d->previous = setMessagePresenter([state](QMessageBox::Icon icon, const QString& text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton) {
        QMutexLocker locker(&state->mutex);
        state->messages.append(Message{icon, text});
        if (state->echo)
            std::fprintf(stderr, "[%s] %s\n", iconName(icon), qUtf8Printable(text));
        if (state->answer)
            return *state->answer;
        return automaticAnswer(buttons, defaultButton);
    });
}

MessageRecorder::~MessageRecorder()
{
    setMessagePresenter(std::move(d->previous));
    delete d;
}

void MessageRecorder::setAnswer(QMessageBox::StandardButton answer)
{
    QMutexLocker locker(&d->state->mutex);
    d->state->answer = answer;
}

QList<MessageRecorder::Message> MessageRecorder::messages() const
{
    QMutexLocker locker(&d->state->mutex);
    return d->state->messages;
}

QStringList MessageRecorder::texts() const
{
    QMutexLocker locker(&d->state->mutex);
    QStringList result;
    for (const Message& m : d->state->messages)
        result.append(m.text);
    return result;
}

void MessageRecorder::clear()
{
    QMutexLocker locker(&d->state->mutex);
    d->state->messages.clear();
}

void MessageRecorder::setEcho(bool on)
{
    QMutexLocker locker(&d->state->mutex);
    d->state->echo = on;
}

} // namespace tq
