#pragma once

#include <QWidget>

namespace modrin::app {

class LayoutHost;

// The modal overlay in which the user reshapes the layout tree. (Stub: to be completed.)
class ViewConfigWindow : public QWidget {
  Q_OBJECT

 public:
  ViewConfigWindow(LayoutHost& host, QWidget* parent = nullptr);

  // Shows the window over the layout root and returns when the user closes it.
  void Exec();

 private:
  LayoutHost& host_;
};

}  // namespace modrin::app
