#pragma once

#include "tqcore/tqcore_global.h"

#include <QDialog>

class QLabel;
class QTimer;

// Counts down a number of seconds, then accepts by itself; Cancel rejects.
// When the application runs headless (TqApp::isHeadless()), exec() accepts
// at once without showing anything.
class TQCORE_EXPORT CounterDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CounterDialog(int seconds, QWidget* parent = nullptr);

    int remaining() const { return m_remaining; }
    int exec() override;

private slots:
    void tick();

private:
    int m_remaining;
    QLabel* m_label;
    QTimer* m_timer;
};
