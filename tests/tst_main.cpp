#include <QtTest>
class Tst_main : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(Tst_main)
#include "tst_main.moc"
