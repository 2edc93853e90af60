#pragma once

#include <QWidget>
#include <string>

class QSplitter;

namespace modrin::app {

class LayoutHost;

// One inner node of the layout tree: a splitter with two panes, side by side or one above
// the other, each holding a nested node or one leaf frame.
class cSplitView : public QWidget {
  Q_OBJECT

 public:
  // `noInflate` marks the root node. A Qt splitter draws no outer border, so the panes fill
  // the node exactly either way; the flag is kept for what the layout knows of its nodes.
  cSplitView(LayoutHost& host, bool noInflate, QWidget* parent = nullptr);

  // Builds this node from `desc` (a layout string; its "X" child stands for `existing`, which
  // is moved into that pane). New leaf frames are made by the host and appended to its frame
  // list depth-first, first pane before second. A `desc` that is no layout builds the
  // default layout.
  void BuildFromLayout(const std::string& desc, QWidget* existing);
  // The layout string of the subtree: "(H|V,percent,first,second)", the percent being the
  // first pane's share of both panes, rounded.
  std::string ToLayoutString() const;

  QSplitter* splitter() const { return splitter_; }
  bool noInflate() const { return noInflate_; }
  void SetNoInflate(bool noInflate) { noInflate_ = noInflate; }

 private:
  // Gives the first pane `share_` of the room the panes have.
  void ApplyShare();

  LayoutHost& host_;
  bool noInflate_;
  QSplitter* splitter_ = nullptr;
  // The first pane's share, 0 to 1; kept through resizes and taken from the user's drags.
  double share_ = 0.5;
};

// The node or leaf frame in pane `index` (0 or 1) of `node`, or null.
QWidget* PaneOf(const cSplitView* node, int index);
// The node whose splitter holds `widget` in one of its panes, or null (the root, a widget
// outside the tree).
cSplitView* ParentNodeOf(const QWidget* widget);

}  // namespace modrin::app
