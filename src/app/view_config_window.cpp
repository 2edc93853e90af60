#include "app/view_config_window.h"

namespace modrin::app {

ViewConfigWindow::ViewConfigWindow(LayoutHost& host, QWidget* parent)
    : QWidget(parent), host_(host) {}

void ViewConfigWindow::Exec() {}

}  // namespace modrin::app
