#include <QtTest>
class T : public QObject { Q_OBJECT private slots: void none() {} };
QTEST_GUILESS_MAIN(T)
#include "tst_simanalyzer.moc"
