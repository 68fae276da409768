#pragma once

#include "tqcore/assay.h"
#include "tqcore/tqcore_global.h"

#include "core/tqglobal.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class Workbench;

// One sample of the analysis document with its assays (tasks). GUI thread.
class TQCORE_EXPORT Sample : public QObject
{
    Q_OBJECT

public:
    explicit Sample(const QString& sampleId, QObject* parent = nullptr);

    QString sampleId() const { return m_sampleId; }
    // The sample's assay of that item name; null when there is none.
    Assay* task(const QString& assay) const;
    // A new assay of that item name, with count repetitions recorded as the
    // temporary value "count"; returns it (the sample owns it).
    Assay* add(const QString& assay, int count);
    QList<Assay*> tasks() const { return m_tasks; }

private:
    QString m_sampleId;
    QList<Assay*> m_tasks;
};

// The host's document of samples.
class TQCORE_EXPORT AbstractAnalysisDoc : public QObject
{
    Q_OBJECT

public:
    explicit AbstractAnalysisDoc(QObject* parent = nullptr);

    // The sample of that id, made when missing.
    Sample* addSample(const QString& sampleId);
    Sample* sample(const QString& sampleId) const;
    QList<Sample*> samples() const { return m_samples; }

private:
    QList<Sample*> m_samples;
};

class TQCORE_EXPORT AnalysisDoc : public AbstractAnalysisDoc
{
    Q_OBJECT

public:
    explicit AnalysisDoc(QObject* parent = nullptr);

    // The next free sample number of today: nextSampleNo(today) of core
    // (which reads the results database), at least one more than the largest
    // number in this document. The type does not change the number.
    int nextSampleId(tq::SampleType type) const;
};

// An assay whose derived results the host computes (INR from PT, ...).
class TQCORE_EXPORT AnalysisTask : public Assay
{
    Q_OBJECT

public:
    AnalysisTask(Workbench* workbench, QObject* parent = nullptr);

    // Fills results(): the assay's own result under the assay name; for a
    // valid PT result also "INR" (ratio to 12 s to the power 1.0) and
    // "PT%" (100 * 12 / value). With calcOnly the assay is not stored.
    void calcResults(bool calcOnly);
    QMap<QString, AnalysisResult> results() const { return m_results; }

private:
    Workbench* m_workbench;
    QMap<QString, AnalysisResult> m_results;
};
