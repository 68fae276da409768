#pragma once

#include <tqcore/assay.h>
#include <tqcore/worklist.h>

#include <QMutexLocker>
#include <QPointer>

// The host deletes its assays only through the worklist, under the
// worklist's walking lock. Holding that lock while a record's guarded pointer
// is read and the host is called keeps the assay alive for those calls, so
// the pointer is looked up again after every exchange with the analyzer and
// never kept across one; the lock is never held during an exchange.
class HeldAssay
{
public:
    HeldAssay(Worklist* list, const QPointer<Assay>& assay)
        : m_lock(list ? list->mutex() : nullptr)
        , m_assay(assay.data())
    {
    }
    Assay* get() const { return m_assay; }
    Assay* operator->() const { return m_assay; }
    explicit operator bool() const { return m_assay != nullptr; }

private:
    QMutexLocker<QMutex> m_lock;
    Assay* m_assay;
};
