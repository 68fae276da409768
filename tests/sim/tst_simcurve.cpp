#include "sim/simassay.h"
#include "simwire.h"

#include <QtTest>

#include <algorithm>
#include <numeric>

class TestSimCurve : public QObject
{
    Q_OBJECT

private slots:
    void clotTimes_data();
    void clotTimes();
    void intervals_data();
    void intervals();
    void curveShape_data();
    void curveShape();
    void reproducible();
};

void TestSimCurve::clotTimes_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<int>("dilution");
    QTest::addColumn<char>("method");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");

    QTest::newRow("PT optical") << QByteArray("PT") << 1 << 'L' << 11.0 << 14.0;
    QTest::newRow("PT lower case item") << QByteArray("pt") << 1 << 'L' << 11.0 << 14.0;
    QTest::newRow("PT bead a little longer") << QByteArray("PT") << 1 << 'C' << 11.3 << 14.5;
    QTest::newRow("PT dilution 0 counts as neat") << QByteArray("PT") << 0 << 'L' << 11.0 << 14.0;
    QTest::newRow("PT 1/2 longer") << QByteArray("PT") << 2 << 'L' << 13.0 << 16.7;
    QTest::newRow("APTT") << QByteArray("AP") << 1 << 'L' << 28.0 << 40.0;
    QTest::newRow("TT") << QByteArray("TT") << 1 << 'L' << 14.0 << 21.0;
    QTest::newRow("FIB 1/10") << QByteArray("FI") << 10 << 'L' << 8.0 << 18.0;
    QTest::newRow("FIB 1/20 longer") << QByteArray("FI") << 20 << 'L' << 11.3 << 25.5;
    QTest::newRow("FIB neat shorter") << QByteArray("FI") << 1 << 'L' << 2.5 << 5.7;
    QTest::newRow("factor VIII") << QByteArray("VI") << 10 << 'L' << 50.0 << 85.0;
    QTest::newRow("factor II") << QByteArray("II") << 10 << 'C' << 30.0 << 57.0;
    QTest::newRow("unknown item") << QByteArray("ZZ") << 1 << 'L' << 20.0 << 60.0;
}

void TestSimCurve::clotTimes()
{
    QFETCH(QByteArray, item);
    QFETCH(int, dilution);
    QFETCH(char, method);
    QFETCH(double, low);
    QFETCH(double, high);
    QRandomGenerator rng(7);
    for (int i = 0; i < 200; ++i) {
        const double s = simassay::clotTimeHundredths(item, dilution, method, &rng) / 100.0;
        QVERIFY2(s >= low - 0.01 && s <= high + 0.01, qPrintable(QString::number(s)));
    }
}

void TestSimCurve::intervals_data()
{
    QTest::addColumn<int>("hundredths");
    QTest::addColumn<int>("intervalMs");
    QTest::newRow("9.99 s") << 999 << 50;
    QTest::newRow("10.00 s") << 1000 << 100;
    QTest::newRow("29.99 s") << 2999 << 100;
    QTest::newRow("30.00 s") << 3000 << 200;
    QTest::newRow("59.99 s") << 5999 << 200;
    QTest::newRow("60.00 s") << 6000 << 400;
}

void TestSimCurve::intervals()
{
    QFETCH(int, hundredths);
    QFETCH(int, intervalMs);
    QCOMPARE(simassay::intervalMsForClotTime(hundredths), intervalMs);
    // the driver picks its interval from the seconds it computes
    QCOMPARE(qRound(wire::intervalFor(hundredths / 100.0) * 1000), intervalMs);
    QCOMPARE(simassay::makeCurve(hundredths, true, true, 1).intervalMs, intervalMs);
}

void TestSimCurve::curveShape_data()
{
    QTest::addColumn<int>("clot");
    QTest::addColumn<bool>("clotted");
    QTest::addColumn<bool>("optical");
    QTest::newRow("PT optical") << 1250 << true << true;
    QTest::newRow("PT bead") << 1250 << true << false;
    QTest::newRow("short FIB optical") << 650 << true << true;
    QTest::newRow("APTT optical") << 3400 << true << true;
    QTest::newRow("factor bead") << 7000 << true << false;
    QTest::newRow("no clot optical") << 1250 << false << true;
    QTest::newRow("no clot bead") << 1250 << false << false;
}

void TestSimCurve::curveShape()
{
    QFETCH(int, clot);
    QFETCH(bool, clotted);
    QFETCH(bool, optical);
    const simassay::Curve c = simassay::makeCurve(clot, clotted, optical, 42);
    QVERIFY(!c.points.isEmpty());
    QVERIFY(std::none_of(c.points.begin(), c.points.end(), [](quint16 v) { return v == 0; }));
    const double span = c.points.size() * c.intervalMs / 1000.0;
    if (!clotted) {
        QCOMPARE(c.reportedHundredths, simassay::noClotLimitHundredths);
        QVERIFY(span >= simassay::noClotLimitHundredths / 100.0);
    } else {
        QCOMPARE(c.reportedHundredths, clot);
        QVERIFY2(span >= clot / 100.0 + 3.0, qPrintable(QString::number(span)));
    }
    // mean of the first and the last tenth of the curve
    const int tenth = std::max(1, int(c.points.size()) / 10);
    const double head = std::accumulate(c.points.begin(), c.points.begin() + tenth, 0.0) / tenth;
    const double tail = std::accumulate(c.points.end() - tenth, c.points.end(), 0.0) / tenth;
    if (!clotted)
        QVERIFY(qAbs(tail - head) < 0.1 * head);
    else if (optical)
        QVERIFY2(tail > head + 10000, qPrintable(QStringLiteral("%1 -> %2").arg(head).arg(tail)));
    else
        QVERIFY2(tail < head / 3, qPrintable(QStringLiteral("%1 -> %2").arg(head).arg(tail)));
    if (clotted) {
        // before the clot time the signal has moved less than a third of its way
        const int atClot = clot * 10 / c.intervalMs;
        const double moved = qAbs(c.points.at(atClot) - head) / qAbs(tail - head);
        QVERIFY2(moved < 0.6, qPrintable(QString::number(moved)));
        const int early = std::max(0, atClot - 2000 / c.intervalMs);
        QVERIFY(qAbs(c.points.at(early) - head) / qAbs(tail - head) < 0.35);
    }
}

void TestSimCurve::reproducible()
{
    QCOMPARE(simassay::makeCurve(1300, true, true, 5).points, simassay::makeCurve(1300, true, true, 5).points);
    QVERIFY(simassay::makeCurve(1300, true, true, 5).points != simassay::makeCurve(1300, true, true, 6).points);
}

QTEST_GUILESS_MAIN(TestSimCurve)
#include "tst_simcurve.moc"
