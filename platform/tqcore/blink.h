#pragma once

#include "tqcore/tqcore_global.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;

// Makes widgets blink: while running, a 500 ms timer toggles the text colour
// of every added widget between its own and red (through the palette's
// WindowText and Text roles). stop() puts the original palettes back.
// start/stop are slots so that other threads reach them through
// QMetaObject::invokeMethod; the object itself lives in the GUI thread.
class TQCORE_EXPORT Blink : public QObject
{
    Q_OBJECT

public:
    explicit Blink(QObject* parent = nullptr);
    ~Blink() override;

    // Widgets deleted later simply drop out.
    void addWidget(QWidget* widget);
    void removeWidget(QWidget* widget);
    QList<QWidget*> widgets() const;

    bool isBlinking() const { return m_timer.isActive(); }
    // True in the highlighted half of a blink.
    bool isHighlighted() const { return m_on; }
    int interval() const { return m_timer.interval(); }
    void setInterval(int msecs) { m_timer.setInterval(msecs); }

public slots:
    void start();
    void stop();

private slots:
    void toggle();

private:
    void apply(bool on);

    QTimer m_timer;
    bool m_on = false;
    QList<QPointer<QWidget>> m_widgets;
};
