#include <QTest>

class Placeholder : public QObject {
  Q_OBJECT

 private slots:
  void builds() {}
};

QTEST_MAIN(Placeholder)
#include "main_frame_test.moc"
