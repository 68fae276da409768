#pragma once

#include "tqcore/tqcore_global.h"

#include <QList>
#include <QMutex>
#include <QObject>

class Assay;

// The host's queue of assays, in the order they are to run. The list owns
// its assays (they are its children).
//
// Locking: mutex() is the walking lock. A caller walking the assays (the
// driver's scheduler in its worker thread) holds it for the walk, so no
// assay is added or deleted under its feet: append(), remove() and clear()
// take mutex() themselves. assays() and count() only take an inner lock and
// may be called with or without mutex() held. Do not call append(),
// remove() or clear() while holding mutex() (it is not recursive).
class TQCORE_EXPORT Worklist : public QObject
{
    Q_OBJECT

public:
    explicit Worklist(QObject* parent = nullptr);
    ~Worklist() override;

    // The assays in queue order (a copy of the list; the pointers stay valid
    // until remove() or the list's destruction).
    QList<Assay*> assays() const;
    int count() const;
    QMutex* mutex() const;

    // Takes ownership; appending an assay already in the list does nothing.
    void append(Assay* assay);
    // Takes it out of the list and deletes it (guarded pointers turn null).
    void remove(Assay* assay);
    // Removes and deletes every assay.
    void clear();

signals:
    void assayAdded(Assay* assay);
    void assayRemoved(Assay* assay);

private:
    mutable QMutex m_walkMutex;
    mutable QMutex m_listMutex;
    QList<Assay*> m_assays;
};
