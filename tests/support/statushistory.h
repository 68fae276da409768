#pragma once

// The statuses each assay passes through, in order, a repeat of the same
// status counted once. Recorded directly in the thread that changes the
// assay (the worker's), so no step is lost to a queued signal.

#include <tqcore/assay.h>

#include <QList>
#include <QObject>

using StatusHistory = QList<QList<tq::AnalysisStatus>>;

// history gets one entry per assay and must outlive the connections, which
// end with context or with the assays.
inline void recordStatuses(QObject* context, const QList<Assay*>& assays, StatusHistory& history)
{
    history = StatusHistory(assays.size());
    for (int i = 0; i < assays.size(); ++i) {
        Assay* a = assays.at(i);
        QObject::connect(
            a, &Assay::changed, context,
            [a, i, &history] {
                if (history[i].isEmpty() || history[i].last() != a->status())
                    history[i].append(a->status());
            },
            Qt::DirectConnection);
    }
}
