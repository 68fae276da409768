#pragma once

#include "core/analysisresult.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QScopedPointer>
#include <QStringList>

#include <array>

class AnalysisDoc;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class InstrVela;
class ManualTestThread;
class QTimerEvent;
class Workbench;

namespace Ui {
class ManualTestClass;
}

// Single tests by hand on the analyzer's ten measuring channels, outside the
// worklist: per channel a sample number, assay, dilution and measuring
// method, a pre-warm countdown, the start of the test (5E set-up, 5F start),
// the result with the results derived from it, and saving into the host's
// analysis document. Results are collected by a ManualTestThread and arrive
// through queued calls of setResult.
//
// Each channel is idle, counting down, under test or holding a result;
// countdown and test are independent of each other. Reset (also run when
// the dialog opens) cancels every channel under test and starts all rows
// afresh.
class ManualTest : public QDialog
{
    Q_OBJECT

public:
    enum { ChannelCount = 10 };

    ManualTest(Workbench* workbench, QWidget* parent = nullptr);
    // Waits (wait cursor) for the polling thread's current pass. Tests
    // started on the analyzer are not cancelled.
    ~ManualTest() override;

    // For the polling thread: the driver (null when the workbench's
    // instrument is not one) and the test id of channel i (0 when none).
    InstrVela* instrument() const { return m_instrument.data(); }
    quint32 testId(int i) const { return m_channels[i].testId; }

protected:
    void timerEvent(QTimerEvent* event) override;

private slots:
    void onStartTimer(int i);
    void test(int i);
    void save();
    void reset();
    void setResult(int i, AnalysisResult r);
    void updateCalculation(int i);
    void setMethod(int i, QString method);
    void showMethodPopup(int i);

private:
    struct Channel
    {
        int countdownStart = 0; // seconds the running countdown began with
        QElapsedTimer elapsed;  // since the countdown began
        bool counting = false;
        quint32 testId = 0;
        bool testing = false;
        bool hasResult = false;
        AnalysisResult result;
        QString method;
    };

    bool startTest(int i);
    bool isFailure(const QByteArray& reply);
    void cancelTest(int i);
    void clearResult(int i);
    QString saveClash() const;
    bool anyCountdownRunning() const;
    void stopTickTimer();
    static QString noResultText();
    static QString methodText(const QString& method);

    // The form's row widgets by column, index = channel index.
    struct Rows
    {
        QList<QSpinBox*> sampleNo;
        QList<QComboBox*> assay;
        QList<QComboBox*> dilution;
        QList<QLabel*> method;
        QList<QSpinBox*> timer;
        QList<QPushButton*> start;
        QList<QPushButton*> test;
        QList<QLabel*> result;
        QList<QLabel*> calculation;
    };

    QScopedPointer<Ui::ManualTestClass> ui;
    Rows m_rows;
    Workbench* m_workbench;
    QPointer<InstrVela> m_instrument;
    AnalysisDoc* m_doc;
    QStringList m_methods;
    std::array<Channel, ChannelCount> m_channels;
    int m_tickTimer = 0;
    ManualTestThread* m_thread = nullptr;
};
