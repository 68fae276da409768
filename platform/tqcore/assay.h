#pragma once

#include "tqcore/tqcore_global.h"

#include "core/analysisresult.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariant>

namespace tq {
// The host's status of one assay. The driver sets Waiting, Started,
// Measuring and Finished; Dispensing is the host's own.
enum AnalysisStatus { Waiting = 0, Dispensing = 1, Started = 2, Measuring = 3, Finished = 4 };
} // namespace tq

// One assay of one sample in the host's worklist: the item to test, how
// (method, dilution), where the sample stands, and what came of it.
//
// Thread safety: every getter and setter may be called from any thread (the
// worker thread writes, the GUI thread reads); the fields sit behind one
// mutex of the object. changed() is emitted after every setter that changes
// something, in the thread of the caller, with the lock released.
// The driver holds assays through QPointer<Assay>: the host deletes them
// (Worklist::remove) in the GUI thread.
class TQCORE_EXPORT Assay : public QObject
{
    Q_OBJECT

public:
    explicit Assay(QObject* parent = nullptr);
    Assay(const QString& sampleId, const QString& samplePos, const QString& assay, QObject* parent = nullptr);
    ~Assay() override;

    // Item name, e.g. "PT", "APTT".
    QString assay() const;
    void setAssay(const QString& assay);

    // Measuring method, e.g. "光学法" (optical) or "磁珠法" (magnetic bead);
    // empty: the instrument's default method.
    QString method() const;
    void setMethod(const QString& method);

    // The dilution as a fraction (1/2 -> 0.5). setDilution takes the text
    // ("1/2", "2/5") through fraction(); a text fraction() cannot read, or
    // one that gives no finite value above 0 ("1/0", "0/1"), makes the
    // dilution 1.0 and keeps the text.
    double dilution() const;
    QString dilutionText() const;
    void setDilution(const QString& text);
    void setDilution(double value);

    // Position of the diluent for this assay (only when the instrument needs one).
    QString dilutionPos() const;
    void setDilutionPos(const QString& pos);
    // Position name of the sample tube, e.g. "A1".
    QString samplePos() const;
    void setSamplePos(const QString& pos);
    // Sample number as the host shows it.
    QString sampleId() const;
    void setSampleId(const QString& id);

    // Set by Instrument::endAssay (and by the host); a finished assay is
    // never placed again.
    bool isFinished() const;
    void setFinished(bool finished);

    tq::AnalysisStatus status() const;
    void setStatus(tq::AnalysisStatus status);

    // Seconds the test has been measuring / pre-warming, as the analyzer reports.
    int testElapsed() const;
    void setTestElapsed(int seconds);
    int incubationElapsed() const;
    void setIncubationElapsed(int value);

    // Free text the driver attaches (its test report).
    QString message() const;
    void setMessage(const QString& message);

    AnalysisResult result() const;
    void setResult(const AnalysisResult& result);

    // Values the driver keeps on the assay (e.g. "vela/id"); not stored anywhere.
    QVariant tempValue(const QString& key, const QVariant& defaultValue = QVariant()) const;
    void setTempValue(const QString& key, const QVariant& value);

signals:
    void changed();

private:
    template <typename T>
    void assign(T& field, const T& value);

    mutable QMutex m_mutex;
    QString m_assay;
    QString m_method;
    QString m_dilutionText = QStringLiteral("1/1");
    double m_dilution = 1.0;
    QString m_dilutionPos;
    QString m_samplePos;
    QString m_sampleId;
    bool m_finished = false;
    tq::AnalysisStatus m_status = tq::Waiting;
    int m_testElapsed = 0;
    int m_incubationElapsed = 0;
    QString m_message;
    AnalysisResult m_result;
    QHash<QString, QVariant> m_temp;
};
