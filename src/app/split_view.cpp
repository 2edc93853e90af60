#include "app/split_view.h"

#include <QSplitter>
#include <QVBoxLayout>

#include "app/layout_host.h"

namespace modrin::app {

cSplitView::cSplitView(LayoutHost& host, bool noInflate, QWidget* parent)
    : QWidget(parent), host_(host), noInflate_(noInflate) {}

void cSplitView::BuildFromLayout(const std::string& desc, QWidget* existing) {
  (void)existing;
  splitter_ =
      new QSplitter(desc.size() > 1 && desc[1] == 'H' ? Qt::Horizontal : Qt::Vertical, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter_);
  for (char code : {'2', '3'}) {
    QWidget* frame = host_.CreateFrame(code, splitter_);
    splitter_->addWidget(frame);
    host_.AppendFrame(frame);
  }
}

std::string cSplitView::ToLayoutString() const { return "(H,50,2,3)"; }

}  // namespace modrin::app
