#include "tqcore/blink.h"

#include <QPalette>
#include <QWidget>

namespace {
const char* savedPaletteProperty = "tq_blink_palette";
}

Blink::Blink(QObject* parent)
    : QObject(parent)
{
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &Blink::toggle);
}

Blink::~Blink()
{
    apply(false);
}

void Blink::addWidget(QWidget* widget)
{
    if (!widget)
        return;
    for (const QPointer<QWidget>& w : std::as_const(m_widgets)) {
        if (w == widget)
            return;
    }
    m_widgets.append(widget);
}

void Blink::removeWidget(QWidget* widget)
{
    for (int i = int(m_widgets.size()) - 1; i >= 0; --i) {
        if (m_widgets.at(i) == widget) {
            if (m_on && widget && widget->property(savedPaletteProperty).isValid()) {
                widget->setPalette(widget->property(savedPaletteProperty).value<QPalette>());
                widget->setProperty(savedPaletteProperty, QVariant());
            }
            m_widgets.removeAt(i);
        }
    }
}

QList<QWidget*> Blink::widgets() const
{
    QList<QWidget*> list;
    for (const QPointer<QWidget>& w : m_widgets) {
        if (w)
            list.append(w);
    }
    return list;
}

void Blink::start()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void Blink::stop()
{
    m_timer.stop();
    apply(false);
}

void Blink::toggle()
{
    apply(!m_on);
}

void Blink::apply(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    for (const QPointer<QWidget>& w : std::as_const(m_widgets)) {
        if (!w)
            continue;
        if (on) {
            const QPalette original = w->palette();
            w->setProperty(savedPaletteProperty, QVariant::fromValue(original));
            QPalette red = original;
            red.setColor(QPalette::WindowText, Qt::red);
            red.setColor(QPalette::Text, Qt::red);
            w->setPalette(red);
        } else if (w->property(savedPaletteProperty).isValid()) {
            w->setPalette(w->property(savedPaletteProperty).value<QPalette>());
            w->setProperty(savedPaletteProperty, QVariant());
        }
    }
}
