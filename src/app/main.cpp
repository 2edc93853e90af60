#include <QApplication>

#include "app/main_frame.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  modrin::app::CMainFrame frame;
  frame.show();
  return application.exec();
}
