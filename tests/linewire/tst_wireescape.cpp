// The printable form of line bytes that every trace writes (the driver's
// "vela.link", Linkhub's trace and ring) and the replay reads back.

#include "platform/linewire/wireescape.h"

#include <QTest>

class tst_WireEscape : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void everyByteComesBack();
    void readsOtherForms_data();
    void readsOtherForms();
};

void tst_WireEscape::roundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("escaped");
    QTest::newRow("plain") << QByteArray("3200 ok") << QByteArray("3200 ok");
    QTest::newRow("line end") << QByteArray("a\r\n") << QByteArray("a\\r\\n");
    QTest::newRow("tab") << QByteArray("a\tb") << QByteArray("a\\tb");
    QTest::newRow("backslash") << QByteArray("a\\b") << QByteArray("a\\\\b");
    // so that escaped bytes can stand between the quotes of the driver's
    //  -> "request" <- "reply"
    QTest::newRow("quote") << QByteArray("\"ok\" <- \"") << QByteArray("\\\"ok\\\" <- \\\"");
    QTest::newRow("frame bytes") << QByteArray("\x02"
                                               "1\x03")
                                 << QByteArray("\\x021\\x03");
    QTest::newRow("GBK label") << QByteArray("\xb2\xe2:") << QByteArray("\\xB2\\xE2:");
    QTest::newRow("NUL, DEL, 0xFF") << QByteArray("\x00\x7f\xff", 3) << QByteArray("\\x00\\x7F\\xFF");
    QTest::newRow("text that looks escaped") << QByteArray("\\x41\\n") << QByteArray("\\\\x41\\\\n");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void tst_WireEscape::roundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, escaped);
    QCOMPARE(escapeBytes(bytes), escaped);
    QCOMPARE(unescapeBytes(escaped), bytes);
}

void tst_WireEscape::everyByteComesBack()
{
    QByteArray all;
    for (int c = 0; c < 256; ++c)
        all.append(char(c));
    const QByteArray escaped = escapeBytes(all);
    for (char c : escaped)
        QVERIFY2(c >= 0x20 && c < 0x7F, "the escaped form is printable ASCII");
    QCOMPARE(unescapeBytes(escaped), all);
}

// What the reader meets besides its own output: traces written before the
// quote was escaped, and text cut or typed by hand.
void tst_WireEscape::readsOtherForms_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("bare quote of an older trace") << QByteArray("a\"b\"") << QByteArray("a\"b\"");
    QTest::newRow("lower-case hex") << QByteArray("\\xb2\\xe2") << QByteArray("\xb2\xe2");
    QTest::newRow("other escaped character") << QByteArray("\\q") << QByteArray("q");
    QTest::newRow("backslash at the end") << QByteArray("ab\\") << QByteArray("ab\\");
    QTest::newRow("\\x cut short") << QByteArray("ab\\x4") << QByteArray("ab\\x4");
    QTest::newRow("\\x without hex") << QByteArray("\\xZZ") << QByteArray("\\xZZ");
}

void tst_WireEscape::readsOtherForms()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(unescapeBytes(text), bytes);
}

QTEST_APPLESS_MAIN(tst_WireEscape)
#include "tst_wireescape.moc"
