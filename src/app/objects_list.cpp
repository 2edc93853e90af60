#include "app/objects_list.h"

namespace modrin::app {

uiObjectsList::uiObjectsList(QWidget* parent) : QWidget(parent) {}

void uiObjectsList::Refill() {}

}  // namespace modrin::app
