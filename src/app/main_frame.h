#pragma once

#include <QMainWindow>

namespace modrin::app {

// The main window. (Stub: to be completed.)
class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(QWidget* parent = nullptr) : QMainWindow(parent) {}
};

}  // namespace modrin::app
