#pragma once

#include "core/core_global.h"

#include <QMessageBox>
#include <QString>

#include <functional>

namespace tq {

// Every modal message box of the system (core's information/question/
// warning/critical, the host framework's Workbench boxes) goes through one
// presenter. By default it is the modal QMessageBox; a headless host and the
// tests install one that records the text and answers at once, so nothing
// ever waits on a box nobody sees.
using MessagePresenter = std::function<QMessageBox::StandardButton(QMessageBox::Icon icon, const QString& text,
                                                                   QMessageBox::StandardButtons buttons,
                                                                   QMessageBox::StandardButton defaultButton)>;

// Installs p (an empty function restores the modal box); returns the one before.
CORE_EXPORT MessagePresenter setMessagePresenter(MessagePresenter p);

// Shows a box through the installed presenter; returns the button pressed.
CORE_EXPORT QMessageBox::StandardButton presentMessage(QMessageBox::Icon icon, const QString& text,
                                                       QMessageBox::StandardButtons buttons,
                                                       QMessageBox::StandardButton defaultButton);

// A presenter that records every box and answers at once: with the answer
// set by setAnswer when there is one, else with the default button, else with
// the first of the buttons. Installs itself on construction and puts the
// previous presenter back on destruction. Safe to call from any thread.
class CORE_EXPORT MessageRecorder
{
public:
    struct Message
    {
        QMessageBox::Icon icon;
        QString text;
    };

    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    void setAnswer(QMessageBox::StandardButton answer);
    QList<Message> messages() const;
    QStringList texts() const;
    void clear();
    // Also print every box to stderr as it comes (the host's headless mode).
    void setEcho(bool on);

private:
    struct Private;
    Private* d;
};

} // namespace tq
