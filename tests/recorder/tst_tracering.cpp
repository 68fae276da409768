// The always-on wire trace ring: its size bound, whole lines after any end,
// one writer per folder, and the two line forms readers must parse.

#include "platform/linewire/tracering.h"
#include "platform/linewire/wiretrace.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class tst_TraceRing : public QObject
{
    Q_OBJECT

private slots:
    void neverExceedsItsSize_data();
    void neverExceedsItsSize();
    void reopenCutsPartLine();
    void oneWriterPerFolder();
    void unusableFolder();
    void parseLine_data();
    void parseLine();
};

void tst_TraceRing::neverExceedsItsSize_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("lineLength");
    QTest::newRow("three small files, many lines") << 3 << 4096 << 5000 << 60;
    QTest::newRow("one file") << 1 << 4096 << 500 << 100;
    QTest::newRow("lines longer than a file are cut") << 2 << 4096 << 20 << 9000;
    QTest::newRow("lines of uneven length") << 4 << 5000 << 3000 << 0;
}

void tst_TraceRing::neverExceedsItsSize()
{
    QFETCH(int, files);
    QFETCH(int, fileSize);
    QFETCH(int, lines);
    QFETCH(int, lineLength);
    QTemporaryDir dir;
    TraceRing ring;
    QString error;
    QVERIFY2(ring.open({dir.path(), files, fileSize}, &error), qPrintable(error));
    QByteArray last;
    for (int i = 0; i < lines; ++i) {
        const int length = lineLength > 0 ? lineLength : 10 + (i * 37) % 700;
        last = QByteArray::number(i) + ' ' + QByteArray(length, 'x') + '\n';
        QVERIFY2(ring.append(last, &error), qPrintable(error));
        const QStringList present = TraceRing::files(dir.path());
        QVERIFY(present.size() <= files);
        // Checked as it grows, not only at the end.
        if (i % 97 == 0 || i == lines - 1) {
            qint64 total = 0;
            for (const QString& f : present) {
                const qint64 size = QFileInfo(f).size();
                QVERIFY2(size <= fileSize, qPrintable(f));
                total += size;
            }
            QVERIFY(total <= qint64(files) * fileSize);
        }
    }
    ring.close();
    const QStringList present = TraceRing::files(dir.path());
    for (const QString& f : present) {
        const QByteArray text = contents(f);
        QVERIFY2(text.endsWith('\n'), qPrintable(f));
    }
    const QByteArray newest = contents(present.constLast());
    if (last.size() <= fileSize)
        QVERIFY(newest.endsWith(last));
    else
        QVERIFY(newest.endsWith(" [cut]\n"));
}

void tst_TraceRing::reopenCutsPartLine()
{
    QTemporaryDir dir;
    QString error;
    {
        TraceRing ring;
        QVERIFY(ring.open({dir.path(), 2, 4096}, &error));
        QVERIFY(ring.append("first\n", &error));
    }
    // What a write broken off by a full disk or a kill would leave.
    const QString newest = TraceRing::files(dir.path()).constLast();
    {
        QFile f(newest);
        QVERIFY(f.open(QIODevice::Append));
        f.write("half a li");
    }
    TraceRing ring;
    QVERIFY(ring.open({dir.path(), 2, 4096}, &error));
    QVERIFY(ring.append("second\n", &error));
    ring.close();
    QCOMPARE(contents(newest), QByteArray("first\nsecond\n"));
}

void tst_TraceRing::oneWriterPerFolder()
{
    QTemporaryDir dir;
    QString error;
    TraceRing first, second;
    QVERIFY(first.open({dir.path(), 2, 4096}, &error));
    QVERIFY(!second.open({dir.path(), 2, 4096}, &error));
    QVERIFY2(error.contains(QString::number(QCoreApplication::applicationPid())), qPrintable(error));
    first.close();
    QVERIFY2(second.open({dir.path(), 2, 4096}, &error), qPrintable(error));
}

void tst_TraceRing::unusableFolder()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("plain")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    TraceRing ring;
    QString error;
    // A folder below a plain file cannot be made, whoever runs the test.
    QVERIFY(!ring.open({file.fileName() + QStringLiteral("/trace"), 2, 4096}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!ring.append("x\n", &error));
}

void tst_TraceRing::parseLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("analyzer");
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("named file") << QByteArray("2026-05-06T09:30:12.345 C> 73\n") << true << QByteArray()
                                << QByteArray("C>") << QByteArray("73");
    QTest::newRow("ring") << QByteArray("2026-05-06T09:30:12.345 VELA01 C< 73 22.5 22.9") << true
                          << QByteArray("VELA01") << QByteArray("C<") << QByteArray("73 22.5 22.9");
    QTest::newRow("ring, no analyzer") << QByteArray("2026-05-06T09:30:12.345 - -- port SIM open") << true
                                       << QByteArray("-") << QByteArray("--") << QByteArray("port SIM open");
    QTest::newRow("frame") << QByteArray("2026-05-06T09:30:12.345 VELA02 S> \\x025VELA02:73\\x036784\\r") << true
                           << QByteArray("VELA02") << QByteArray("S>") << QByteArray("\\x025VELA02:73\\x036784\\r");
    QTest::newRow("empty text") << QByteArray("2026-05-06T09:30:12.345 C< ") << true << QByteArray() << QByteArray("C<")
                                << QByteArray();
    QTest::newRow("no tag") << QByteArray("2026-05-06T09:30:12.345 VELA01 X> 73") << false << QByteArray()
                            << QByteArray() << QByteArray();
    QTest::newRow("time only") << QByteArray("2026-05-06T09:30:12.345") << false << QByteArray() << QByteArray()
                               << QByteArray();
}

void tst_TraceRing::parseLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, ok);
    WireTrace::Line fields;
    QCOMPARE(WireTrace::parseLine(line, &fields), ok);
    if (!ok)
        return;
    QCOMPARE(fields.time, QByteArray("2026-05-06T09:30:12.345"));
    QTEST(fields.analyzer, "analyzer");
    QTEST(fields.tag, "tag");
    QTEST(fields.text, "text");
}

QTEST_MAIN(tst_TraceRing)
#include "tst_tracering.moc"
