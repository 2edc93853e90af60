#pragma once

#include <QWidget>
#include <string>

class QSplitter;

namespace modrin::app {

class LayoutHost;

// One inner node of the layout tree: a splitter with two panes, each a nested node or a leaf.
// (Stub: to be completed.)
class cSplitView : public QWidget {
  Q_OBJECT

 public:
  cSplitView(LayoutHost& host, bool noInflate, QWidget* parent = nullptr);

  // Builds this node from `desc`; an "X" child stands for `existing`.
  void BuildFromLayout(const std::string& desc, QWidget* existing);
  // The layout string of the subtree, percentages measured from the pane sizes.
  std::string ToLayoutString() const;

  QSplitter* splitter() const { return splitter_; }

 private:
  LayoutHost& host_;
  bool noInflate_;
  QSplitter* splitter_ = nullptr;
};

}  // namespace modrin::app
