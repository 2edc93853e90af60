#include "app/layout_host.h"
#include "app/objects_list.h"
#include "views2d/img_frame.h"
#include "views3d/ogl_frame.h"

namespace modrin::app {

char FrameCode(const QWidget* frame) {
  if (qobject_cast<const views2d::ImgFrame*>(frame) != nullptr) return '2';
  if (qobject_cast<const views3d::OglFrame*>(frame) != nullptr) return '3';
  if (qobject_cast<const uiObjectsList*>(frame) != nullptr) return 'O';
  return 0;
}

}  // namespace modrin::app
