#include "tqcore/analysisdoc.h"

#include <QDate>

#include <cmath>

Sample::Sample(const QString& sampleId, QObject* parent)
    : QObject(parent)
    , m_sampleId(sampleId)
{
}

Assay* Sample::task(const QString& assay) const
{
    for (Assay* a : m_tasks) {
        if (a->assay() == assay)
            return a;
    }
    return nullptr;
}

Assay* Sample::add(const QString& assay, int count)
{
    auto* a = new Assay(m_sampleId, QString(), assay, this);
    a->setTempValue(QStringLiteral("count"), count);
    m_tasks.append(a);
    return a;
}

AbstractAnalysisDoc::AbstractAnalysisDoc(QObject* parent)
    : QObject(parent)
{
}

Sample* AbstractAnalysisDoc::addSample(const QString& sampleId)
{
    if (Sample* existing = sample(sampleId))
        return existing;
    auto* s = new Sample(sampleId, this);
    m_samples.append(s);
    return s;
}

Sample* AbstractAnalysisDoc::sample(const QString& sampleId) const
{
    for (Sample* s : m_samples) {
        if (s->sampleId() == sampleId)
            return s;
    }
    return nullptr;
}

AnalysisDoc::AnalysisDoc(QObject* parent)
    : AbstractAnalysisDoc(parent)
{
}

int AnalysisDoc::nextSampleId(tq::SampleType type) const
{
    Q_UNUSED(type);
    int next = nextSampleNo(QDate::currentDate());
    for (Sample* s : samples()) {
        bool ok = false;
        const int n = s->sampleId().toInt(&ok);
        if (ok && n >= next)
            next = n + 1;
    }
    return next;
}

AnalysisTask::AnalysisTask(Workbench* workbench, QObject* parent)
    : Assay(parent)
    , m_workbench(workbench)
{
}

void AnalysisTask::calcResults(bool calcOnly)
{
    Q_UNUSED(calcOnly);
    m_results.clear();
    const AnalysisResult own = result();
    const QString name = assay();
    if (name.isEmpty())
        return;
    m_results.insert(name, own);
    if (name == QLatin1String("PT") && own.isValid() && own.value() > 0.0
        && own.value() != AnalysisResult::notClottedValue) {
        // Normal PT 12 s, ISI 1.0.
        const double normal = 12.0;
        m_results.insert(QStringLiteral("INR"), AnalysisResult(std::pow(own.value() / normal, 1.0)));
        m_results.insert(QStringLiteral("PT%"), AnalysisResult(100.0 * normal / own.value()));
    }
}
