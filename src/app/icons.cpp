#include "app/icons.h"

namespace modrin::app {

QIcon CommandIcon(int id) {
  (void)id;
  return {};
}

}  // namespace modrin::app
