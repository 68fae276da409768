#include "core/analysisresult.h"
#include "core/messagepresenter.h"
#include "core/profile.h"

#include "resultsdatabases.h"

#include <QDataStream>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using Values = QVector<double>;

class tst_ClotCurve : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void lookup_data();
    void lookup();
    void remove_data();
    void remove();
    void toType_data();
    void toType();
    void toTypeKeepsOtherCases();

    void exampleBuffer();
    void bufferRoundTrip();
    void corruptBuffer_data();
    void corruptBuffer();
    void mutatedBuffersNeverCrash();

    void saveLoadRoundTrip();
    void saveEmptyDeletesRow();
    void loadWithoutRow();
    void loadCorruptBlob_data();
    void loadCorruptBlob();
    void databaseErrorsAreLogged();

private:
    static ClotCurve threeAndTwo();
    static int rowCount(int patientId, const QString& item);

    QTemporaryDir m_dir;
    tq::MessageRecorder m_boxes;
};

void tst_ClotCurve::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString error = prepareResultsDatabases(m_dir.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(Profile::instance().dataDatabase().isOpen());
    QVERIFY2(m_boxes.texts().isEmpty(), qPrintable(m_boxes.texts().join('\n')));
}

// Segment 0: x 0, 1, 2; segment 1: x 100, 102.
ClotCurve tst_ClotCurve::threeAndTwo()
{
    ClotCurve c;
    c.append(0.0, 1.0, {10.0, 11.0, 12.0});
    c.append(100.0, 2.0, {20.0, 21.0});
    return c;
}

int tst_ClotCurve::rowCount(int patientId, const QString& item)
{
    QSqlQuery q(Profile::instance().dataDatabase());
    q.prepare(QStringLiteral("select count(*) from curve where patientId=? and item=?"));
    q.addBindValue(patientId);
    q.addBindValue(item);
    if (!q.exec() || !q.next()) {
        qWarning() << q.lastError();
        return -1;
    }
    return q.value(0).toInt();
}

void tst_ClotCurve::lookup_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");

    QTest::newRow("first") << 0 << 0.0 << 10.0;
    QTest::newRow("last of segment 0") << 2 << 2.0 << 12.0;
    QTest::newRow("first of segment 1 is its start") << 3 << 100.0 << 20.0;
    QTest::newRow("last") << 4 << 102.0 << 21.0;
    QTest::newRow("one past the end") << 5 << 0.0 << 0.0;
    QTest::newRow("negative") << -1 << 0.0 << 0.0;
    QTest::newRow("far out") << 1000000 << 0.0 << 0.0;
}

void tst_ClotCurve::lookup()
{
    QFETCH(int, index);
    QFETCH(double, x);
    QFETCH(double, y);

    const ClotCurve c = threeAndTwo();
    QCOMPARE(c.size(), 5);
    QVERIFY(!c.isEmpty());
    QCOMPARE(c.x(index), x);
    QCOMPARE(c.y(index), y);
}

void tst_ClotCurve::remove_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<Values>("ys");

    QTest::newRow("(2,2) across the boundary") << 2 << 2 << QList<int>{2, 1} << Values{10, 11, 21};
    QTest::newRow("(0,3) whole first segment") << 0 << 3 << QList<int>{2} << Values{20, 21};
    QTest::newRow("(0,5) everything") << 0 << 5 << QList<int>{} << Values{};
    QTest::newRow("(3,1) inside segment 1") << 3 << 1 << QList<int>{3, 1} << Values{10, 11, 12, 21};
    QTest::newRow("(1,1) inside segment 0") << 1 << 1 << QList<int>{2, 2} << Values{10, 12, 20, 21};
    QTest::newRow("(3,10) beyond the end") << 3 << 10 << QList<int>{3} << Values{10, 11, 12};
    QTest::newRow("(5,1) past the end") << 5 << 1 << QList<int>{3, 2} << Values{10, 11, 12, 20, 21};
    QTest::newRow("(1,0) nothing") << 1 << 0 << QList<int>{3, 2} << Values{10, 11, 12, 20, 21};
    QTest::newRow("(1,-2) negative count") << 1 << -2 << QList<int>{3, 2} << Values{10, 11, 12, 20, 21};
    QTest::newRow("(-1,2) clipped at 0") << -1 << 2 << QList<int>{2, 2} << Values{11, 12, 20, 21};
    QTest::newRow("(-5,2) entirely before 0") << -5 << 2 << QList<int>{3, 2} << Values{10, 11, 12, 20, 21};
}

void tst_ClotCurve::remove()
{
    QFETCH(int, from);
    QFETCH(int, count);
    QFETCH(QList<int>, sizes);
    QFETCH(Values, ys);

    ClotCurve c = threeAndTwo();
    c.remove(from, count);
    QList<int> got;
    Values values;
    for (const ClotCurve::Segment& s : c.segments()) {
        got << int(s.values.size());
        values += s.values;
    }
    QCOMPARE(got, sizes);
    QCOMPARE(values, ys);
    QCOMPARE(c.isEmpty(), sizes.isEmpty());
    QCOMPARE(c.size(), int(ys.size()));
}

void tst_ClotCurve::toType_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("interval");
    QTest::addColumn<Values>("raw");
    QTest::addColumn<Values>("expected");

    // 0.1 s steps: baseline from index 30 over 10 points, densities from 35.
    Values raw(100, 1000.0);
    Values od(100, 0.0);
    for (int k = 40; k < 100; ++k) {
        raw[k] = 100.0;
        od[k] = 1.0;
    }
    QTest::newRow("i0 30, n 10") << 0.0 << 0.1 << raw << od;

    Values dark = raw;
    Values darkOd = od;
    dark[50] = 0.0;
    darkOd[50] = 5.0;
    dark[51] = -3.0;
    darkOd[51] = 5.0;
    dark[52] = 1e-3;
    darkOd[52] = 5.0;
    dark[53] = 2000.0;
    darkOd[53] = std::log10(0.5);
    QTest::newRow("0.0 capped at 5.0, brighter goes negative") << 0.0 << 0.1 << dark << darkOd;

    QTest::newRow("starts after 3.0") << 5.0 << 0.5 << Values{100, 100, 10, 1} << Values{0, 0, 1, 2};
    QTest::newRow("window cut by the end") << 0.0 << 1.0 << Values{1, 1, 1, 10, 100} << Values{0, 0, 0, 0, -1};
    QTest::newRow("ends before the window") << 0.0 << 1.0 << Values{5, 5, 5} << Values{0, 0, 0};
    // (3 - 0.25) / 0.5 = 5.5 rounds up to 6: the baseline is points 6 and 7.
    QTest::newRow("half rounds up") << 0.25 << 0.5 << Values{1, 1, 1, 1, 1, 50, 100, 100, 10, 1}
                                    << Values{0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    QTest::newRow("no values") << 0.0 << 0.1 << Values{} << Values{};
    QTest::newRow("zero interval") << 0.0 << 0.0 << Values{1, 2, 3} << Values{0, 0, 0};
    QTest::newRow("zero interval from 3.0") << 3.0 << 0.0 << Values{4, 4, 4} << Values{0, 0, 0};
    QTest::newRow("negative interval") << 4.0 << -1.0 << Values{10, 1} << Values{0, 1};
}

void tst_ClotCurve::toType()
{
    QFETCH(double, start);
    QFETCH(double, interval);
    QFETCH(Values, raw);
    QFETCH(Values, expected);

    ClotCurve c;
    c.append(start, interval, raw);
    c.append(50.0, 1.0, {7.0, 8.0}); // later segments are carried over
    const ClotCurve od = c.toType(ClotCurve::OpticalDensity);

    QCOMPARE(od.type(), ClotCurve::OpticalDensity);
    QCOMPARE(c.type(), ClotCurve::Intensity);
    QCOMPARE(c.segments().first().values, raw); // the source is untouched
    const QVector<ClotCurve::Segment> segs = od.segments();
    QCOMPARE(segs.size(), 2);
    QCOMPARE(segs[0].start, start);
    QCOMPARE(segs[0].interval, interval);
    QCOMPARE(segs[0].values.size(), expected.size());
    for (int k = 0; k < expected.size(); ++k) {
        if (std::fabs(segs[0].values[k] - expected[k]) > 1e-12)
            QFAIL(qPrintable(QStringLiteral("point %1: %2, expected %3")
                                 .arg(k)
                                 .arg(segs[0].values[k], 0, 'g', 17)
                                 .arg(expected[k])));
    }
    QCOMPARE(segs[1], c.segments()[1]);
}

void tst_ClotCurve::toTypeKeepsOtherCases()
{
    ClotCurve od;
    od.setType(ClotCurve::OpticalDensity);
    od.append(0.0, 0.1, {0.1, 0.2});
    QCOMPARE(od.toType(ClotCurve::Intensity), od);
    QCOMPARE(od.toType(ClotCurve::OpticalDensity), od);

    const ClotCurve raw = threeAndTwo();
    QCOMPARE(raw.toType(ClotCurve::Intensity), raw);
    QCOMPARE(raw.toType(ClotCurve::PointType(7)), raw);

    const ClotCurve empty = ClotCurve().toType(ClotCurve::OpticalDensity);
    QVERIFY(empty.isEmpty());
    QCOMPARE(empty.type(), ClotCurve::OpticalDensity);

    QCOMPARE(raw.simplified(), raw);
}

void tst_ClotCurve::exampleBuffer()
{
    ClotCurve c;
    c.append(0.0, 0.5, {1.0, 2.0});
    const QByteArray expected = QByteArray::fromHex("00000000"
                                                    "00000001"
                                                    "0000000000000000"
                                                    "3FE0000000000000"
                                                    "00000002"
                                                    "3FF0000000000000"
                                                    "4000000000000000");
    QCOMPARE(expected.size(), 44);
    QCOMPARE(c.toBuffer().toHex(), expected.toHex());
    QCOMPARE(ClotCurve::fromBuffer(expected), c);

    // Readable by a plain stream reader of the same version.
    QDataStream in(expected);
    in.setVersion(QDataStream::Qt_4_8);
    qint32 type = -1;
    quint32 segments = 0, values = 0;
    double start = -1, interval = -1, v0 = 0, v1 = 0;
    in >> type >> segments >> start >> interval >> values >> v0 >> v1;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(type, 0);
    QCOMPARE(segments, 1u);
    QCOMPARE(interval, 0.5);
    QCOMPARE(values, 2u);
    QCOMPARE(v1, 2.0);
}

void tst_ClotCurve::bufferRoundTrip()
{
    ClotCurve c;
    c.setType(ClotCurve::OpticalDensity);
    c.append(0.0, 0.1, {0.0, -1.5, 1e300, std::nan("")});
    c.append(12.5, 0.25, {});
    c.append(-3.0, 1.0, {42.0});
    const QByteArray buffer = c.toBuffer();
    QCOMPARE(buffer.size(), 8 + (20 + 4 * 8) + 20 + (20 + 8));

    const ClotCurve back = ClotCurve::fromBuffer(buffer);
    QCOMPARE(back.type(), ClotCurve::OpticalDensity);
    QCOMPARE(back.toBuffer(), buffer); // bit for bit, NaN included
    QCOMPARE(back.size(), 5);
    QCOMPARE(back.segments()[1].start, 12.5);

    // Bytes after the last segment are ignored.
    QCOMPARE(ClotCurve::fromBuffer(buffer + "tail").toBuffer(), buffer);

    // An empty buffer is an empty Intensity curve, without complaint.
    const ClotCurve none = ClotCurve::fromBuffer(QByteArray());
    QVERIFY(none.isEmpty());
    QCOMPARE(none.type(), ClotCurve::Intensity);

    // No segment at all, but a valid header.
    const ClotCurve bare = ClotCurve::fromBuffer(QByteArray::fromHex("0000000100000000"));
    QVERIFY(bare.isEmpty());
    QCOMPARE(bare.type(), ClotCurve::OpticalDensity);
}

void tst_ClotCurve::corruptBuffer_data()
{
    QTest::addColumn<QByteArray>("buffer");

    const QByteArray example = QByteArray::fromHex("00000000000000010000000000000000"
                                                   "3FE000000000000000000002"
                                                   "3FF00000000000004000000000000000");
    QTest::newRow("3 bytes") << example.left(3);
    QTest::newRow("point type only") << example.left(4);
    QTest::newRow("header only, one segment announced") << example.left(8);
    QTest::newRow("cut inside segment header") << example.left(20);
    QTest::newRow("cut before values") << example.left(28);
    QTest::newRow("last value cut") << example.left(43);
    QTest::newRow("segment count 0xFFFFFFF0") << QByteArray::fromHex("00000000FFFFFFF0");
    QTest::newRow("segment count 0xFFFFFFF0 with data") << QByteArray::fromHex("00000000FFFFFFF0") + QByteArray(200, 0);
    QTest::newRow("segment count one too many") << QByteArray::fromHex("00000000"
                                                                       "00000002")
                                                       + example.mid(8);
    QTest::newRow("value count 0xFFFFFFF0") << QByteArray::fromHex("00000000"
                                                                   "00000001"
                                                                   "0000000000000000"
                                                                   "3FE0000000000000"
                                                                   "FFFFFFF0")
                                                   + QByteArray(64, 0);
    QTest::newRow("value count one too many") << QByteArray::fromHex("00000000"
                                                                     "00000001"
                                                                     "0000000000000000"
                                                                     "3FE0000000000000"
                                                                     "00000003"
                                                                     "3FF0000000000000"
                                                                     "4000000000000000");
    QTest::newRow("point type -1") << QByteArray::fromHex("FFFFFFFF00000000");
    QTest::newRow("point type 2") << QByteArray::fromHex("00000002") + example.mid(4);
    QTest::newRow("point type 0x7FFFFFFF") << QByteArray::fromHex("7FFFFFFF00000000");

    QRandomGenerator random(20240611);
    for (int i = 0; i < 4; ++i) {
        QByteArray bytes(64 + 100 * i, Qt::Uninitialized);
        for (char& b : bytes)
            b = char(random.bounded(256));
        bytes[0] = char(0x40 | i); // point type far outside the enumeration
        QTest::addRow("random %d bytes", int(bytes.size())) << bytes;
    }
}

void tst_ClotCurve::corruptBuffer()
{
    QFETCH(QByteArray, buffer);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("corrupt curve buffer")));
    const ClotCurve c = ClotCurve::fromBuffer(buffer);
    QVERIFY(c.isEmpty());
    QCOMPARE(c.type(), ClotCurve::Intensity);
    QCOMPARE(c.size(), 0);
}

static int g_decodeWarnings = 0;

static void countWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg && message.contains(QLatin1String("corrupt curve buffer")))
        ++g_decodeWarnings;
}

// Every prefix and thousands of byte flips of a valid buffer: the decoder
// either rejects the buffer or returns a curve whose own encoding is the
// start of it, never anything in between.
void tst_ClotCurve::mutatedBuffersNeverCrash()
{
    ClotCurve c;
    c.append(0.0, 0.5, Values(30, 1000.0));
    c.append(15.0, 0.5, Values(10, 900.0));
    const QByteArray valid = c.toBuffer();

    g_decodeWarnings = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countWarnings);
    int decoded = 0;
    auto check = [&](const QByteArray& b) {
        const ClotCurve d = ClotCurve::fromBuffer(b);
        if (d != ClotCurve())
            ++decoded;
        return d == ClotCurve() || b.startsWith(d.toBuffer());
    };
    bool ok = true;
    for (int n = 0; n <= valid.size() && ok; ++n)
        ok = check(valid.left(n));
    QRandomGenerator random(77);
    for (int i = 0; i < 5000 && ok; ++i) {
        QByteArray b = valid;
        const int flips = 1 + random.bounded(4);
        for (int f = 0; f < flips; ++f)
            b[random.bounded(int(b.size()))] = char(random.bounded(256));
        b.truncate(random.bounded(int(b.size())) + 1);
        ok = check(b);
    }
    qInstallMessageHandler(previous);
    QVERIFY(ok);
    QVERIFY(g_decodeWarnings > 0);
    QVERIFY(decoded > 0);
}

void tst_ClotCurve::saveLoadRoundTrip()
{
    ClotCurve c;
    c.setType(ClotCurve::OpticalDensity);
    c.append(0.0, 0.1, {0.0, 0.5, 1.25});
    c.append(30.0, 0.2, {2.0});
    c.save(11, QStringLiteral("PT"));
    QCOMPARE(rowCount(11, QStringLiteral("PT")), 1);

    ClotCurve loaded;
    loaded.load(11, QStringLiteral("PT"));
    QCOMPARE(loaded, c);

    // Another item of the same patient is a different row.
    ClotCurve other;
    other.append(0.0, 1.0, {3.0});
    other.save(11, QStringLiteral("APTT"));
    loaded.load(11, QStringLiteral("APTT"));
    QCOMPARE(loaded, other);
    loaded.load(11, QStringLiteral("PT"));
    QCOMPARE(loaded, c);

    // The stored blob is the buffer format.
    QSqlQuery q(Profile::instance().dataDatabase());
    QVERIFY(q.exec(QStringLiteral("select curve from curve where patientId=11 and item='APTT'")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toByteArray(), other.toBuffer());
}

void tst_ClotCurve::saveEmptyDeletesRow()
{
    ClotCurve c;
    c.append(0.0, 1.0, {1.0, 2.0});
    c.save(12, QStringLiteral("TT"));
    c.save(13, QStringLiteral("TT"));
    QCOMPARE(rowCount(12, QStringLiteral("TT")), 1);

    ClotCurve().save(12, QStringLiteral("TT"));
    QCOMPARE(rowCount(12, QStringLiteral("TT")), 0);
    QCOMPARE(rowCount(13, QStringLiteral("TT")), 1);

    // A curve with one segment of no values is not empty: it is stored.
    ClotCurve hollow;
    hollow.append(0.0, 1.0, {});
    hollow.save(12, QStringLiteral("TT"));
    ClotCurve loaded;
    loaded.load(12, QStringLiteral("TT"));
    QCOMPARE(loaded, hollow);
}

void tst_ClotCurve::loadWithoutRow()
{
    ClotCurve c = threeAndTwo();
    c.setType(ClotCurve::OpticalDensity);
    c.load(999, QStringLiteral("none"));
    QVERIFY(c.isEmpty());
    QCOMPARE(c.type(), ClotCurve::OpticalDensity);
}

void tst_ClotCurve::loadCorruptBlob_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<bool>("warns");

    QTest::newRow("empty blob") << QByteArray() << false;
    QTest::newRow("truncated") << QByteArray::fromHex("0000000000000001000000") << true;
    QTest::newRow("huge segment count") << QByteArray::fromHex("00000000FFFFFFF0") << true;
    QTest::newRow("huge value count") << QByteArray::fromHex("00000000"
                                                             "00000001"
                                                             "0000000000000000"
                                                             "3FE0000000000000"
                                                             "FFFFFFF0")
                                      << true;
    QTest::newRow("text") << QByteArray("not a curve at all") << true;
}

void tst_ClotCurve::loadCorruptBlob()
{
    QFETCH(QByteArray, blob);
    QFETCH(bool, warns);

    QSqlQuery q(Profile::instance().dataDatabase());
    QVERIFY(q.prepare(QStringLiteral("insert into curve (patientId, item, curve) values(20, 'bad', ?)")));
    q.addBindValue(blob);
    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));

    if (warns)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("corrupt curve buffer")));
    ClotCurve c = threeAndTwo();
    c.setType(ClotCurve::OpticalDensity);
    c.load(20, QStringLiteral("bad"));
    QVERIFY(c.isEmpty());
    QCOMPARE(c.type(), ClotCurve::OpticalDensity);

    QVERIFY(q.exec(QStringLiteral("delete from curve where patientId=20")));
}

void tst_ClotCurve::databaseErrorsAreLogged()
{
    QSqlQuery q(Profile::instance().dataDatabase());
    QVERIFY2(q.exec(QStringLiteral("alter table curve rename to curve_away")), qPrintable(q.lastError().text()));

    ClotCurve c;
    c.append(0.0, 1.0, {1.0});
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\\.\\\\analysisresult\\(94\\): ")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\\.\\\\analysisresult\\(106\\): ")));
    c.save(30, QStringLiteral("PT"));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\\.\\\\analysisresult\\(88\\): ")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\\.\\\\analysisresult\\(106\\): ")));
    ClotCurve().save(30, QStringLiteral("PT"));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\\.\\\\analysisresult\\(113\\): ")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\\.\\\\analysisresult\\(119\\): ")));
    c.load(30, QStringLiteral("PT"));
    QVERIFY(c.isEmpty());

    QVERIFY2(q.exec(QStringLiteral("alter table curve_away rename to curve")), qPrintable(q.lastError().text()));
}

QTEST_MAIN(tst_ClotCurve)
#include "tst_clotcurve.moc"
