#include "app/view_config_window.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSplitter>
#include <algorithm>
#include <cstdio>

#include "app/layout_host.h"
#include "app/split_view.h"

namespace modrin::app {

namespace {

// How close to an edge of the overlay a press grabs that edge, in pixels.
constexpr int kGrip = 8;
// The overlay never shrinks below this, so that it stays visible and grabbable.
constexpr int kMinimumSide = 24;
// How far ChangeViewType moves the left edge before the old view is deleted.
constexpr int kChangeTypeShift = 15;
// Hatched panes are inset this much at the node's outer edges and at the edge between them.
constexpr int kOuterInset = 10;
constexpr int kInnerInset = 5;

constexpr char kHint[] = "Drag an edge to split \xC2\xB7 Right button: menu \xC2\xB7 Esc: close";

bool IsInputEvent(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ContextMenu:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
      return true;
    default:
      return false;
  }
}

// Puts `replacement` into the pane of `node` that `old` holds, with that pane's size, so
// that the other pane keeps its own; `old` leaves the splitter without a parent. (Inserting
// first and setting the sizes of both after would give them to a splitter briefly holding
// three widgets, and squash the other pane.)
void TakePane(cSplitView& node, QWidget* old, QWidget* replacement) {
  node.splitter()->replaceWidget(node.splitter()->indexOf(old), replacement);
}

}  // namespace

ViewConfigWindow::ViewConfigWindow(LayoutHost& host, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), host_(host) {
  // A window of its own above the main window, painting a picture of the views under it: a
  // child widget painted over a 3D view would not show there, because the OpenGL drawing is
  // composed over the rest of the window after the widgets have painted. The window paints
  // every pixel itself.
  setAttribute(Qt::WA_OpaquePaintEvent);
  // The window manager then keeps it above the main window and gives it the keys back when
  // the main window is clicked.
  setWindowModality(Qt::WindowModal);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  hide();
  hoverTimer_.setInterval(100);
  connect(&hoverTimer_, &QTimer::timeout, this, &ViewConfigWindow::OnHoverTick);
  // Taken once the layout has settled after a change, not in the middle of one.
  pictureTimer_.setSingleShot(true);
  pictureTimer_.setInterval(0);
  connect(&pictureTimer_, &QTimer::timeout, this, &ViewConfigWindow::TakePicture);
}

ViewConfigWindow::~ViewConfigWindow() { Close(); }

void ViewConfigWindow::Exec() {
  Open();
  if (open_) loop_.exec();
}

void ViewConfigWindow::Open() {
  if (open_ || host_.layoutRoot() == nullptr) return;
  open_ = true;
  current_ = host_.layoutRoot();
  TakePicture();
  PlaceOverCurrent();
  show();
  raise();
  activateWindow();
  setFocus(Qt::OtherFocusReason);
  // Modal: while the overlay is open, the rest of the window gets no mouse or keys.
  qApp->installEventFilter(this);
  lastPointer_ = QCursor::pos();
  hoverTimer_.start();
}

void ViewConfigWindow::Close() {
  if (!open_) return;
  open_ = false;
  hoverTimer_.stop();
  pictureTimer_.stop();
  qApp->removeEventFilter(this);
  hide();
  if (parentWidget() != nullptr) parentWidget()->activateWindow();
  RepaintLayout();
  loop_.quit();
}

void ViewConfigWindow::SetCurrent(QWidget* node) {
  if (node == nullptr) return;
  current_ = node;
  PlaceOverCurrent();
}

std::string ViewConfigWindow::Split(const QRect& node, const QRect& window, char code) {
  // Edges as a rectangle of left, top, right and bottom, the right and bottom exclusive.
  const int aLeft = node.x(), aTop = node.y();
  const int aRight = node.x() + node.width(), aBottom = node.y() + node.height();
  const int bLeft = window.x(), bTop = window.y();
  const int bRight = window.x() + window.width(), bBottom = window.y() + window.height();
  if (node.width() <= 0 || node.height() <= 0) return {};
  // The share stays inside the node, so a new pane never takes all of it.
  auto format = [code](const char* pattern, int percent) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, std::clamp(percent, 1, 99), code);
    return std::string(text);
  };
  if (bLeft > aLeft) return format("(H,%.2d,%c,X)", (bLeft - aLeft) * 100 / (aRight - aLeft));
  if (bRight < aRight) {
    return format("(H,%.2d,X,%c)", 100 + (bRight - aRight) * 100 / (aRight - aLeft));
  }
  if (bTop > aTop) return format("(V,%.2d,%c,X)", (bTop - aTop) * 100 / (aBottom - aTop));
  if (bBottom < aBottom) {
    return format("(V,%.2d,X,%c)", 100 + (bBottom - aBottom) * 100 / (aBottom - aTop));
  }
  return {};
}

void ViewConfigWindow::SplitCurrent(const QRect& window, char code) {
  if (current_ == nullptr) return;
  const std::string desc = Split(GlobalRect(current_), window, code);
  if (desc.empty()) return;
  QWidget* split = current_;
  cSplitView* parentNode = ParentNodeOf(split);
  auto* node = new cSplitView(host_, parentNode == nullptr);
  if (parentNode != nullptr) {
    TakePane(*parentNode, split, node);
    node->BuildFromLayout(desc, split);
  } else {
    // The root itself is split: the new node becomes the root.
    if (auto* oldRoot = qobject_cast<cSplitView*>(split)) oldRoot->SetNoInflate(false);
    host_.SetLayoutRoot(node);
    node->BuildFromLayout(desc, split);
  }
  node->show();
  pictureTimer_.start();
  // The node that was split stays current, one level deeper.
  PlaceOverCurrent();
}

void ViewConfigWindow::DeleteCurrent() {
  QWidget* leaf = current_;
  if (leaf == nullptr || qobject_cast<cSplitView*>(leaf) != nullptr) return;
  cSplitView* parentNode = ParentNodeOf(leaf);
  if (parentNode == nullptr) return;
  QSplitter* splitter = parentNode->splitter();
  QWidget* sibling = splitter->widget(1 - splitter->indexOf(leaf));
  if (sibling == nullptr) return;
  if (parentNode == host_.layoutRoot()) {
    // The layout keeps a split node at the top.
    auto* newRoot = qobject_cast<cSplitView*>(sibling);
    if (newRoot == nullptr) return;
    newRoot->SetNoInflate(true);
    host_.SetLayoutRoot(newRoot);
  } else {
    cSplitView* grandParent = ParentNodeOf(parentNode);
    if (grandParent == nullptr) return;
    TakePane(*grandParent, parentNode, sibling);
  }
  sibling->show();
  host_.RemoveFrame(leaf);
  delete leaf;
  delete parentNode;
  pictureTimer_.start();
  SetCurrent(sibling);
}

void ViewConfigWindow::ChangeViewType(char code) {
  QWidget* old = current_;
  if (old == nullptr || FrameCode(old) == 0) return;
  // Too narrow to be split by the shift: nothing changes.
  if (old->width() <= 2 * kChangeTypeShift) return;
  const cSplitView* parentBefore = ParentNodeOf(old);
  SplitCurrent(GlobalRect(old).adjusted(kChangeTypeShift, 0, 0, 0), code);
  if (ParentNodeOf(old) == parentBefore) return;
  // The new frame sits left of the old one in a node of their own; deleting the old one
  // gives the new frame its place.
  SetCurrent(old);
  DeleteCurrent();
}

void ViewConfigWindow::GoToFirstChild() {
  if (auto* node = qobject_cast<cSplitView*>(current_.data())) SetCurrent(PaneOf(node, 0));
}

void ViewConfigWindow::GoToParent() { SetCurrent(ParentNodeOf(current_)); }

void ViewConfigWindow::GoToNextSibling() {
  cSplitView* parentNode = ParentNodeOf(current_);
  if (parentNode == nullptr) return;
  SetCurrent(PaneOf(parentNode, 1 - parentNode->splitter()->indexOf(current_)));
}

void ViewConfigWindow::HoverAt(const QPoint& globalPos) {
  // While an edge is dragged or the menu is open the selection must hold: the drag and the
  // menu's command act on the node they started on.
  if (!isVisible() || dragEdges_ != kNone || menuOpen_) return;
  if (GlobalRect(this).contains(globalPos)) return;
  for (QWidget* frame : host_.frames()) {
    if (frame != current_ && frame->isVisible() && GlobalRect(frame).contains(globalPos)) {
      SetCurrent(frame);
      return;
    }
  }
}

void ViewConfigWindow::OnHoverTick() {
  // A pointer resting where it was leaves the selection to the keys: only a move chooses.
  const QPoint pointer = QCursor::pos();
  if (pointer == lastPointer_) return;
  lastPointer_ = pointer;
  HoverAt(pointer);
}

QMenu* ViewConfigWindow::CreateContextMenu(QWidget* parent) {
  const bool isNode = qobject_cast<cSplitView*>(current_.data()) != nullptr;
  const char kind = FrameCode(current_);
  const bool hasObjectList = std::any_of(host_.frames().begin(), host_.frames().end(),
                                         [](const QWidget* f) { return FrameCode(f) == 'O'; });
  auto* menu = new QMenu("View config", parent);
  auto add = [](QMenu* to, const char* text, int id, const char* prompt, bool enabled) {
    QAction* action = to->addAction(text);
    action->setData(id);
    action->setStatusTip(prompt);
    action->setEnabled(enabled);
    return action;
  };
  QMenu* goTo = menu->addMenu("&Go to");
  add(goTo, "&Child", kFirstChild, "Go to the first child window", isNode);
  add(goTo, "&Parent", kParent, "Go to the parent window", ParentNodeOf(current_) != nullptr);
  add(menu, "&Delete", kDelete, "Delete current window", !isNode);
  QMenu* type = menu->addMenu("&View type");
  struct Kind {
    const char* text;
    int id;
    const char* prompt;
    char code;
  };
  static constexpr Kind kKinds[] = {
      {"&2D view", kTo2DView, "Change current view to a 2D view", '2'},
      {"&3D view", kTo3DView, "Change current view to a 3D view", '3'},
      {"&Object list", kToObjectList, "Change current view to the object list view", 'O'},
  };
  for (const Kind& k : kKinds) {
    // At most one object list comes about through this window.
    const bool enabled = !isNode && !(k.code == 'O' && hasObjectList);
    QAction* action = add(type, k.text, k.id, k.prompt, enabled);
    action->setCheckable(true);
    action->setChecked(kind == k.code);
  }
  return menu;
}

void ViewConfigWindow::RunCommand(int id) {
  switch (id) {
    case kFirstChild:
      GoToFirstChild();
      break;
    case kParent:
      GoToParent();
      break;
    case kNextSibling:
      GoToNextSibling();
      break;
    case kDelete:
      DeleteCurrent();
      break;
    case kTo2DView:
      ChangeViewType('2');
      break;
    case kTo3DView:
      ChangeViewType('3');
      break;
    case kToObjectList:
      ChangeViewType('O');
      break;
    default:
      break;
  }
}

bool ViewConfigWindow::event(QEvent* event) {
  // While the overlay has the keys, none of the main window's shortcuts fire.
  if (event->type() == QEvent::ShortcutOverride) {
    event->accept();
    return true;
  }
  return QWidget::event(event);
}

bool ViewConfigWindow::eventFilter(QObject* watched, QEvent* event) {
  // A split or a delete lays the views out again after the fact; the overlay follows the
  // current node to where it ends up, and takes a new picture of the views.
  QWidget* mainWindow = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
  const bool moved = event->type() == QEvent::Resize || event->type() == QEvent::Move;
  if ((watched == current_ || watched == mainWindow) && moved) {
    PlaceOverCurrent();
    pictureTimer_.start();
  }
  // The main window closing ends the overlay first, so that its shutdown runs normally.
  if (watched == mainWindow && event->type() == QEvent::Close) Close();
  if (open_ && IsInputEvent(event->type())) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == mainWindow) return true;
  }
  return QWidget::eventFilter(watched, event);
}

void ViewConfigWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  painter.drawPixmap(mapFromGlobal(pictureOrigin_), picture_);
  const QBrush hatch(Qt::white, Qt::BDiagPattern);
  auto hatchArea = [&](const QRect& area, bool outline) {
    painter.setCompositionMode(QPainter::CompositionMode_Difference);
    painter.fillRect(area, hatch);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (outline) {
      painter.setPen(QPen(Qt::black, 1));
      painter.setBrush(Qt::NoBrush);
      painter.drawRect(area.adjusted(0, 0, -1, -1));
    }
  };
  if (auto* node = qobject_cast<cSplitView*>(current_.data())) {
    const bool sideBySide = node->splitter()->orientation() == Qt::Horizontal;
    for (int i = 0; i < 2; ++i) {
      const QWidget* pane = PaneOf(node, i);
      if (pane == nullptr) continue;
      QRect area(mapFromGlobal(pane->mapToGlobal(QPoint(0, 0))), pane->size());
      const int before = i == 0 ? kOuterInset : kInnerInset;
      const int after = i == 0 ? kInnerInset : kOuterInset;
      area = sideBySide ? area.adjusted(before, kOuterInset, -after, -kOuterInset)
                        : area.adjusted(kOuterInset, before, -kOuterInset, -after);
      hatchArea(area, true);
    }
  } else {
    hatchArea(rect(), false);
  }
  // The sizing frame: the edges a drag takes hold of.
  painter.setPen(QPen(QColor(30, 80, 160), 3));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(1, 1, -2, -2));
  // What the user can do here, on a plate so it stays readable over any view.
  const QRect plate = painter.fontMetrics().boundingRect(kHint).adjusted(-8, -4, 8, 4);
  QRect placed = plate;
  placed.moveCenter(rect().center());
  if (placed.width() < width() - 2 * kGrip) {
    painter.fillRect(placed, QColor(255, 255, 225));
    painter.setPen(Qt::black);
    painter.drawRect(placed.adjusted(0, 0, -1, -1));
    painter.drawText(placed, Qt::AlignCenter, QString::fromUtf8(kHint));
  }
}

void ViewConfigWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_PageDown:
      GoToFirstChild();
      break;
    case Qt::Key_PageUp:
      GoToParent();
      break;
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
      GoToNextSibling();
      break;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
      DeleteCurrent();
      break;
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Close();
      break;
    default:
      QWidget::keyPressEvent(event);
  }
}

void ViewConfigWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  dragEdges_ = EdgesAt(event->position().toPoint());
  dragStart_ = event->globalPosition().toPoint();
  dragStartRect_ = geometry();
}

void ViewConfigWindow::mouseMoveEvent(QMouseEvent* event) {
  if (dragEdges_ == kNone) {
    const int edges = EdgesAt(event->position().toPoint());
    if ((edges & (kLeft | kRight)) && (edges & (kTop | kBottom))) {
      setCursor((edges == (kLeft | kTop) || edges == (kRight | kBottom)) ? Qt::SizeFDiagCursor
                                                                         : Qt::SizeBDiagCursor);
    } else if (edges & (kLeft | kRight)) {
      setCursor(Qt::SizeHorCursor);
    } else if (edges & (kTop | kBottom)) {
      setCursor(Qt::SizeVerCursor);
    } else {
      unsetCursor();
    }
    return;
  }
  // The overlay can shrink from the edge held but never grow past the current node.
  const QPoint delta = event->globalPosition().toPoint() - dragStart_;
  const QRect bounds = GlobalRect(current_);
  QRect r = dragStartRect_;
  if (dragEdges_ & kLeft)
    r.setLeft(std::clamp(r.left() + delta.x(), bounds.left(), r.right() - kMinimumSide));
  if (dragEdges_ & kRight)
    r.setRight(std::clamp(r.right() + delta.x(), r.left() + kMinimumSide, bounds.right()));
  if (dragEdges_ & kTop)
    r.setTop(std::clamp(r.top() + delta.y(), bounds.top(), r.bottom() - kMinimumSide));
  if (dragEdges_ & kBottom)
    r.setBottom(std::clamp(r.bottom() + delta.y(), r.top() + kMinimumSide, bounds.bottom()));
  setGeometry(r);
}

void ViewConfigWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || dragEdges_ == kNone) return;
  dragEdges_ = kNone;
  const QRect window = GlobalRect(this);
  const QRect node = GlobalRect(current_);
  if (window.width() < node.width() || window.height() < node.height()) {
    SplitCurrent(window, '2');
  }
  PlaceOverCurrent();
}

void ViewConfigWindow::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = CreateContextMenu(this);
  menuOpen_ = true;
  QAction* chosen = menu->exec(event->globalPos());
  menuOpen_ = false;
  if (chosen != nullptr) RunCommand(chosen->data().toInt());
  delete menu;
}

void ViewConfigWindow::PlaceOverCurrent() {
  if (current_ == nullptr) return;
  setGeometry(GlobalRect(current_));
  raise();
  update();
}

void ViewConfigWindow::TakePicture() {
  // Rendering the layout draws the 3D views' pictures into it too.
  QWidget* root = host_.layoutRoot();
  if (root == nullptr) return;
  picture_ = root->grab();
  pictureOrigin_ = root->mapToGlobal(QPoint(0, 0));
  update();
}

QRect ViewConfigWindow::GlobalRect(const QWidget* widget) const {
  if (widget == nullptr) return {};
  return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

int ViewConfigWindow::EdgesAt(const QPoint& pos) const {
  int edges = kNone;
  if (pos.x() < kGrip) edges |= kLeft;
  if (pos.x() >= width() - kGrip) edges |= kRight;
  if (pos.y() < kGrip) edges |= kTop;
  if (pos.y() >= height() - kGrip) edges |= kBottom;
  return edges;
}

void ViewConfigWindow::RepaintLayout() {
  QWidget* root = host_.layoutRoot();
  if (root == nullptr) return;
  root->update();
  for (QWidget* child : root->findChildren<QWidget*>()) child->update();
}

}  // namespace modrin::app
