#include "tqcore/worklist.h"

#include "tqcore/assay.h"

#include <QMutexLocker>

Worklist::Worklist(QObject* parent)
    : QObject(parent)
{
}

Worklist::~Worklist()
{
    clear();
}

QList<Assay*> Worklist::assays() const
{
    QMutexLocker locker(&m_listMutex);
    return m_assays;
}

int Worklist::count() const
{
    QMutexLocker locker(&m_listMutex);
    return int(m_assays.size());
}

QMutex* Worklist::mutex() const
{
    return &m_walkMutex;
}

void Worklist::append(Assay* assay)
{
    if (!assay)
        return;
    {
        QMutexLocker walk(&m_walkMutex);
        QMutexLocker locker(&m_listMutex);
        if (m_assays.contains(assay))
            return;
        assay->setParent(this);
        m_assays.append(assay);
    }
    emit assayAdded(assay);
}

void Worklist::remove(Assay* assay)
{
    {
        QMutexLocker walk(&m_walkMutex);
        {
            QMutexLocker locker(&m_listMutex);
            if (!m_assays.removeOne(assay))
                return;
        }
        emit assayRemoved(assay);
        delete assay;
    }
}

void Worklist::clear()
{
    QList<Assay*> gone;
    {
        QMutexLocker walk(&m_walkMutex);
        {
            QMutexLocker locker(&m_listMutex);
            gone.swap(m_assays);
        }
        for (Assay* assay : std::as_const(gone)) {
            emit assayRemoved(assay);
            delete assay;
        }
    }
}
