#include <QTest>
class T : public QObject { Q_OBJECT };
QTEST_MAIN(T)
#include "calibration_dialog_test.moc"
