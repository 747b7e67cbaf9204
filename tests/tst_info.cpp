#include <QtTest>
class Tst_info : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(Tst_info)
#include "tst_info.moc"
