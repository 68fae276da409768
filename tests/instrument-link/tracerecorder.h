#pragma once

// Collects the driver's wire trace ("vela.link" at debug level): the
// request lines exchanged, unescaped, in order.

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QString>

class TraceRecorder
{
public:
    TraceRecorder()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("vela.link.debug=true"));
        self() = this;
        m_previous = qInstallMessageHandler(&TraceRecorder::handler);
    }
    ~TraceRecorder()
    {
        qInstallMessageHandler(m_previous);
        self() = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }

    // Requests that were exchanged (not those dropped on a closed link).
    QList<QByteArray> requests() const
    {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }
    // Every debug message of the driver outside the wire trace.
    QStringList messages() const
    {
        QMutexLocker lock(&m_mutex);
        return m_messages;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_requests.clear();
        m_messages.clear();
    }

    static QByteArray unescape(const QString& text)
    {
        QByteArray out;
        for (int i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c != QLatin1Char('\\') || i + 1 >= text.size()) {
                out += char(c.unicode());
                continue;
            }
            const QChar e = text.at(++i);
            if (e == QLatin1Char('r'))
                out += '\r';
            else if (e == QLatin1Char('n'))
                out += '\n';
            else if (e == QLatin1Char('t'))
                out += '\t';
            else if (e == QLatin1Char('x')) {
                out += char(text.mid(i + 1, 2).toInt(nullptr, 16));
                i += 2;
            } else
                out += char(e.unicode());
        }
        return out;
    }

private:
    static TraceRecorder*& self()
    {
        static TraceRecorder* r = nullptr;
        return r;
    }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        TraceRecorder* r = self();
        if (!r)
            return;
        static const QRegularExpression exchange(QStringLiteral("^-> \"((?:[^\"\\\\]|\\\\.)*)\" <- "));
        {
            QMutexLocker lock(&r->m_mutex);
            if (context.category && qstrcmp(context.category, "vela.link") == 0) {
                const auto m = exchange.match(message);
                if (m.hasMatch())
                    r->m_requests.append(unescape(m.captured(1)));
            } else if (type == QtDebugMsg) {
                r->m_messages.append(message);
            }
        }
        if (type != QtDebugMsg && r->m_previous)
            r->m_previous(type, context, message);
    }

    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QList<QByteArray> m_requests;
    QStringList m_messages;
};
