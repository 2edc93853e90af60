#include "app/split_view.h"

#include <QResizeEvent>
#include <QSplitter>
#include <QVBoxLayout>
#include <cmath>
#include <functional>

#include "app/layout_host.h"
#include "app/layout_string.h"

namespace modrin::app {

namespace {

// A splitter that tells its node when it has been resized, so that the node's share of the
// first pane holds at every size, the first real one included.
class ShareSplitter : public QSplitter {
 public:
  ShareSplitter(Qt::Orientation orientation, std::function<void()> resized, QWidget* parent)
      : QSplitter(orientation, parent), resized_(std::move(resized)) {}

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QSplitter::resizeEvent(event);
    resized_();
  }

 private:
  std::function<void()> resized_;
};

}  // namespace

cSplitView::cSplitView(LayoutHost& host, bool noInflate, QWidget* parent)
    : QWidget(parent), host_(host), noInflate_(noInflate) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
}

void cSplitView::BuildFromLayout(const std::string& desc, QWidget* existing) {
  std::optional<LayoutNode> layout = ParseLayout(desc, existing != nullptr);
  // A window being split must find its pane whatever the text says.
  if (!layout) layout = ParseLayout(existing != nullptr ? "(H,50,2,X)" : kDefaultLayout, true);

  delete splitter_;
  splitter_ = new ShareSplitter(
      layout->sideBySide ? Qt::Horizontal : Qt::Vertical, [this] { ApplyShare(); }, this);
  splitter_->setChildrenCollapsible(false);
  this->layout()->addWidget(splitter_);
  share_ = layout->percent * 0.01;
  connect(splitter_, &QSplitter::splitterMoved, this, [this] {
    const QList<int> sizes = splitter_->sizes();
    if (sizes.size() == 2 && sizes[0] + sizes[1] > 0) {
      share_ = static_cast<double>(sizes[0]) / (sizes[0] + sizes[1]);
    }
  });

  // Both panes get their windows first; then nested nodes are built and new frames join the
  // frame list, first pane before second.
  struct Pane {
    const LayoutNode::Child* child;
    QWidget* widget;
    bool isNew;
  };
  Pane panes[2] = {{&layout->first, nullptr, false}, {&layout->second, nullptr, false}};
  for (Pane& pane : panes) {
    if (pane.child->node) {
      pane.widget = new cSplitView(host_, false, splitter_);
    } else if (pane.child->code == 'X') {
      pane.widget = existing;
    } else {
      pane.widget = host_.CreateFrame(pane.child->code, splitter_);
      pane.isNew = true;
    }
    if (pane.widget == nullptr) pane.widget = new QWidget(splitter_);
    splitter_->addWidget(pane.widget);
    pane.widget->show();
  }
  for (const Pane& pane : panes) {
    if (auto* node = qobject_cast<cSplitView*>(pane.widget); node != nullptr && pane.child->node) {
      node->BuildFromLayout(pane.child->text, nullptr);
    } else if (pane.isNew) {
      host_.AppendFrame(pane.widget);
    }
  }
  ApplyShare();
}

std::string cSplitView::ToLayoutString() const {
  if (splitter_ == nullptr) return kDefaultLayout;
  const bool sideBySide = splitter_->orientation() == Qt::Horizontal;
  const QList<int> sizes = splitter_->sizes();
  const int total = sizes.size() == 2 ? sizes[0] + sizes[1] : 0;
  // A node never shown has no sizes yet; it keeps the share it was built with.
  const double share = total > 0 ? static_cast<double>(sizes[0]) / total : share_;
  const int percent = static_cast<int>(share * 100.0 + 0.5);
  auto code = [](const QWidget* pane) -> std::string {
    if (auto* node = qobject_cast<const cSplitView*>(pane)) return node->ToLayoutString();
    const char leaf = FrameCode(pane);
    return std::string(1, leaf != 0 ? leaf : '2');
  };
  return std::string("(") + (sideBySide ? "H" : "V") + "," + std::to_string(percent) + "," +
         code(PaneOf(this, 0)) + "," + code(PaneOf(this, 1)) + ")";
}

void cSplitView::ApplyShare() {
  if (splitter_ == nullptr || splitter_->count() != 2) return;
  const int length =
      splitter_->orientation() == Qt::Horizontal ? splitter_->width() : splitter_->height();
  const int room = length - splitter_->handleWidth();
  if (room <= 0) return;
  const int first = static_cast<int>(std::trunc(room * share_));
  splitter_->setSizes({first, room - first});
}

QWidget* PaneOf(const cSplitView* node, int index) {
  if (node == nullptr || node->splitter() == nullptr) return nullptr;
  return node->splitter()->widget(index);
}

cSplitView* ParentNodeOf(const QWidget* widget) {
  if (widget == nullptr) return nullptr;
  auto* splitter = qobject_cast<QSplitter*>(widget->parentWidget());
  if (splitter == nullptr) return nullptr;
  auto* node = qobject_cast<cSplitView*>(splitter->parentWidget());
  return node != nullptr && node->splitter() == splitter ? node : nullptr;
}

}  // namespace modrin::app
