#include <QTest>

class HelpWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void builds() {}
};

QTEST_MAIN(HelpWindowTest)
#include "help_window_test.moc"
