#include <QCursor>
#include <QMenu>
#include <QSplitter>
#include <QTest>
#include <QVBoxLayout>
#include <functional>
#include <memory>

#include "app/layout_host.h"
#include "app/layout_string.h"
#include "app/objects_list.h"
#include "app/split_view.h"
#include "app/view_config_window.h"
#include "views2d/img_frame.h"
#include "views2d/testing/recording_view_host.h"
#include "views3d/ogl_frame.h"

using modrin::app::cSplitView;
using modrin::app::FrameCode;
using modrin::app::IsValidLayout;
using modrin::app::LayoutHost;
using modrin::app::LayoutNode;
using modrin::app::PaneOf;
using modrin::app::ParentNodeOf;
using modrin::app::ParseLayout;
using modrin::app::ViewConfigWindow;

namespace {

// The main window as far as the layout sees it: a window whose client area holds the root.
class TestWindow : public QWidget, public LayoutHost {
 public:
  TestWindow() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    resize(800, 600);
  }

  void Build(const std::string& text) {
    const std::string layout = IsValidLayout(text) ? text : modrin::app::kDefaultLayout;
    delete root_;
    frames_.clear();
    auto* root = new cSplitView(*this, true, this);
    SetLayoutRoot(root);
    root->BuildFromLayout(layout, nullptr);
    show();
    QVERIFY(QTest::qWaitForWindowExposed(this));
    Settle();
  }

  // Lets posted layout requests reach every widget.
  static void Settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents();
  }

  QString Kinds() const {
    QString kinds;
    for (QWidget* frame : frames_) kinds += FrameCode(frame);
    return kinds;
  }

  // The node or frame reached from the root by `path`, one pane index ('0' or '1') per level.
  QWidget* At(const QString& path) const {
    QWidget* node = root_;
    for (QChar pane : path) node = PaneOf(qobject_cast<cSplitView*>(node), pane == '1');
    return node;
  }

  QWidget* CreateFrame(char code, QWidget* parent) override {
    switch (code) {
      case '2':
        return new modrin::views2d::ImgFrame(viewHost_, parent);
      case '3':
        return new modrin::views3d::OglFrame(parent);
      case 'O':
        return new modrin::app::uiObjectsList(parent);
      default:
        return nullptr;
    }
  }
  void AppendFrame(QWidget* frame) override { frames_.push_back(frame); }
  void RemoveFrame(QWidget* frame) override { std::erase(frames_, frame); }
  const std::vector<QWidget*>& frames() const override { return frames_; }
  cSplitView* layoutRoot() const override { return root_; }
  void SetLayoutRoot(cSplitView* root) override {
    if (root_ != nullptr && root_ != root) layout()->removeWidget(root_);
    root_ = root;
    root->setParent(this);
    layout()->addWidget(root);
    root->show();
  }

 private:
  cSplitView* root_ = nullptr;
  std::vector<QWidget*> frames_;
  // The photo frames' window services; the layout tests edit no photo.
  modrin::views2d::testing::RecordingViewHost viewHost_;
};

QRect GlobalRect(const QWidget* w) { return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()); }

// Selects the node at `path` (as TestWindow::At) with the keys, starting at the root.
void GoTo(ViewConfigWindow& overlay, const QString& path) {
  for (QChar pane : path) {
    QTest::keyClick(&overlay, Qt::Key_PageDown);
    if (pane == '1') QTest::keyClick(&overlay, Qt::Key_Right);
  }
}

// Both layout strings hold the same tree with the same codes, and each node the same share
// within a percent (shares are measured again from pixel sizes).
void CompareLayouts(const std::string& actual, const std::string& expected) {
  const std::optional<LayoutNode> a = ParseLayout(actual);
  const std::optional<LayoutNode> e = ParseLayout(expected);
  QVERIFY2(a && e, actual.c_str());
  std::function<bool(const LayoutNode&, const LayoutNode&)> same = [&](const auto& x,
                                                                       const auto& y) {
    auto sameChild = [&](const LayoutNode::Child& p, const LayoutNode::Child& q) {
      return p.code == q.code && (p.node == nullptr) == (q.node == nullptr) &&
             (p.node == nullptr || same(*p.node, *q.node));
    };
    return x.sideBySide == y.sideBySide && qAbs(x.percent - y.percent) <= 1 &&
           sameChild(x.first, y.first) && sameChild(x.second, y.second);
  };
  QVERIFY2(same(*a, *e), (actual + " is not " + expected).c_str());
}

// Deleting a view, or changing its kind: where, and what the layout and its frame list are
// afterwards. First and second panes at every depth of the default layout, and under the root.
struct Edit {
  const char* name;
  const char* layout;
  const char* path;  // of the view edited, as TestWindow::At
  char edit;         // 'D' the Delete key, else the new kind
  const char* expected;
  const char* kinds;
};
constexpr const char* kStandard = modrin::app::kDefaultLayout;
const Edit kEdits[] = {
    {"delete the object list", kStandard, "00", 'D', "(V,47,(H,48,2,2),(H,50,2,3))", "2223"},
    {"delete depth 3, first", kStandard, "010", 'D', "(V,47,(H,11,O,2),(H,50,2,3))", "O223"},
    {"delete depth 3, second", kStandard, "011", 'D', "(V,47,(H,11,O,2),(H,50,2,3))", "O223"},
    {"delete lower, first", kStandard, "10", 'D', "(V,47,(H,11,O,(H,48,2,2)),3)", "O223"},
    {"delete lower, second", kStandard, "11", 'D', "(V,47,(H,11,O,(H,48,2,2)),2)", "O222"},
    {"object list to 3D", kStandard, "00", '3', "(V,47,(H,11,3,(H,48,2,2)),(H,50,2,3))", "22233"},
    {"depth 3, first to 3D", kStandard, "010", '3', "(V,47,(H,11,O,(H,48,3,2)),(H,50,2,3))",
     "O2233"},
    {"depth 3, second to 3D", kStandard, "011", '3', "(V,47,(H,11,O,(H,48,2,3)),(H,50,2,3))",
     "O2233"},
    {"lower, first to 3D", kStandard, "10", '3', "(V,47,(H,11,O,(H,48,2,2)),(H,50,3,3))", "O2233"},
    {"lower, second to 2D", kStandard, "11", '2', "(V,47,(H,11,O,(H,48,2,2)),(H,50,2,2))", "O2222"},
    // Under the root, the nested sibling becomes the root.
    {"delete under the root", "(V,50,2,(H,50,3,O))", "0", 'D', "(H,50,3,O)", "3O"},
    {"delete depth 3 of a second pane", "(V,30,2,(H,60,3,(V,20,2,O)))", "110", 'D',
     "(V,30,2,(H,60,3,O))", "23O"},
};

// The enabled and checked state of every item of a menu and its sub-menus, by text.
QStringList MenuState(const QMenu* menu) {
  QStringList out;
  for (QAction* a : menu->actions()) {
    if (a->menu() != nullptr) {
      out << a->text() + ":";
      out << MenuState(a->menu());
      continue;
    }
    QString state = a->text();
    if (!a->isEnabled()) state += " grey";
    if (a->isChecked()) state += " checked";
    out << state;
  }
  return out;
}

}  // namespace

class LayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { window_ = std::make_unique<TestWindow>(); }
  void cleanup() { window_.reset(); }

  void checksTheGrammar() {
    QVERIFY(IsValidLayout(modrin::app::kDefaultLayout));
    QVERIFY(IsValidLayout("(H,0,2,3)"));
    QVERIFY(IsValidLayout("(V,100,O,(H,5,2,2))"));
    for (const char* bad :
         {"", "(", "(H,50,2,3", "(H,50,2,3))", "(H,50,2)", "(H,50,22,3)", "(H,50,4,3)",
          "(H,101,2,3)", "(H,-5,2,3)", "(H,,2,3)", "(Q,50,2,3)", "(H,50,X,2)", "(H 50,2,3)",
          "(H,50,2,3)x", "(H,0050,2,3)", "H,50,2,3"}) {
      QVERIFY2(!IsValidLayout(bad), bad);
    }
    // "X" stands for the window being split: only the strings made while splitting hold it.
    QVERIFY(ParseLayout("(H,25,2,X)", true).has_value());
    // Nesting is bounded, so no string can exhaust the stack.
    std::string deep;
    for (int i = 0; i < 40; ++i) deep += "(H,50,2,";
    deep += "2" + std::string(40, ')');
    QVERIFY(!IsValidLayout(deep));
  }

  void buildsWhatItIsGivenAndWritesItBack() {
    // No string, or one that is no layout, gives the default, its frames listed depth first.
    for (const char* text : {"", "(H,50,2,(V,50,3"}) {
      window_->Build(text);
      QCOMPARE(window_->Kinds(), QString("O2223"));
      CompareLayouts(window_->layoutRoot()->ToLayoutString(), modrin::app::kDefaultLayout);
    }
    for (const char* layout :
         {modrin::app::kDefaultLayout, "(H,30,(V,60,3,(H,50,2,O)),(V,25,2,(H,70,(V,40,2,2),3)))"}) {
      window_->Build(layout);
      const std::string written = window_->layoutRoot()->ToLayoutString();
      CompareLayouts(written, layout);
      // Built again from what it wrote, it writes the same.
      window_->Build(written);
      QCOMPARE(window_->layoutRoot()->ToLayoutString(), written);
    }
  }

  void splitRules() {
    // The node's left edge is at 100, its right at 500, its top at 50, its bottom at 250.
    const QRect node(100, 50, 400, 200);
    const struct {
      QRect window;
      char code;
      const char* desc;
    } rules[] = {
        {node.adjusted(100, 0, 0, 0), '2', "(H,25,2,X)"},
        {node.adjusted(0, 0, -100, 0), '3', "(H,75,X,3)"},
        {node.adjusted(0, 10, 0, 0), '2', "(V,05,2,X)"},
        {node.adjusted(0, 0, 0, -50), '2', "(V,75,X,2)"},
        // The left edge wins over the others; an untouched overlay splits nothing.
        {node.adjusted(40, 10, -10, -10), '2', "(H,10,2,X)"},
        {node, '2', ""},
    };
    for (const auto& rule : rules) {
      QCOMPARE(ViewConfigWindow::Split(node, rule.window, rule.code), std::string(rule.desc));
    }
  }

  void draggingTheLeftEdgeSplitsOffAQuarter() {
    window_->Build("(H,50,2,3)");
    window_->resize(801 + window_->layoutRoot()->splitter()->handleWidth(), 600);
    TestWindow::Settle();
    QWidget* photo = window_->frames()[0];
    const int width = photo->width();
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    GoTo(overlay, "0");
    QCOMPARE(GlobalRect(&overlay), GlobalRect(photo));

    // Press on the left edge, drag a quarter of the width to the right, release.
    const int y = overlay.height() / 2;
    QTest::mousePress(&overlay, Qt::LeftButton, Qt::NoModifier, QPoint(2, y));
    QMouseEvent move(QEvent::MouseMove, QPointF(2 + width / 4, y),
                     QPointF(overlay.mapToGlobal(QPoint(2 + width / 4, y))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&overlay, &move);
    QCOMPARE(overlay.width(), width - width / 4);
    QTest::mouseRelease(&overlay, Qt::LeftButton, Qt::NoModifier, QPoint(2 + width / 4, y));
    TestWindow::Settle();

    // A new photo frame, appended to the list, takes the left quarter of the old place.
    QCOMPARE(window_->Kinds(), QString("232"));
    QCOMPARE(window_->At("01"), photo);
    QCOMPARE(window_->At("00"), window_->frames().back());
    QCOMPARE(ParentNodeOf(photo)->ToLayoutString(), std::string("(H,25,2,2)"));
    // The split node stays current, the overlay over it.
    QCOMPARE(overlay.currentNode(), photo);
    QCOMPARE(GlobalRect(&overlay), GlobalRect(photo));
  }

  // Deleting a view or changing its kind (kEdits): the view's neighbours keep their places and
  // shares, and the stored string builds the same layout again.
  void editsKeepEveryPlaceAndShare_data() {
    QTest::addColumn<int>("row");
    for (int row = 0; row < std::ssize(kEdits); ++row) QTest::newRow(kEdits[row].name) << row;
  }
  void editsKeepEveryPlaceAndShare() {
    QFETCH(int, row);
    const auto& [name, layout, path, edit, expected, kinds] = kEdits[row];
    window_->Build(layout);
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    GoTo(overlay, path);
    QWidget* view = window_->At(path);
    QCOMPARE(overlay.currentNode(), view);
    // A deleted view's sibling takes the place of their node; a new kind takes the view's.
    cSplitView* node = ParentNodeOf(view);
    QWidget* sibling = PaneOf(node, 1 - node->splitter()->indexOf(view));
    const QRect place = GlobalRect(edit == 'D' ? node : view);

    if (edit == 'D') {
      QTest::keyClick(&overlay, Qt::Key_Delete);
    } else {
      overlay.RunCommand(edit == '2'   ? ViewConfigWindow::kTo2DView
                         : edit == '3' ? ViewConfigWindow::kTo3DView
                                       : ViewConfigWindow::kToObjectList);
    }
    TestWindow::Settle();

    QCOMPARE(window_->Kinds(), QString(kinds));
    QCOMPARE(overlay.currentNode(), edit == 'D' ? sibling : window_->frames().back());
    QCOMPARE(GlobalRect(&overlay), place);
    const std::string stored = window_->layoutRoot()->ToLayoutString();
    CompareLayouts(stored, expected);
    // The next start builds the same tree with the same shares from the stored string.
    TestWindow next;
    next.Build(stored);
    CompareLayouts(next.layoutRoot()->ToLayoutString(), expected);
  }

  void deleteKeepsASplitNodeAtTheTop() {
    window_->Build("(H,50,2,3)");
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    // Neither the root nor a leaf whose sibling under the root is a leaf can go.
    QTest::keyClick(&overlay, Qt::Key_Delete);
    QCOMPARE(overlay.currentNode(), window_->layoutRoot());
    GoTo(overlay, "0");
    QTest::keyClick(&overlay, Qt::Key_Delete);
    QCOMPARE(window_->Kinds(), QString("23"));
    QCOMPARE(overlay.currentNode(), window_->frames()[0]);
  }

  void contextMenuGreysWhatCannotBeDone() {
    const struct {
      const char* layout;
      const char* path;
      QStringList state;
    } cases[] = {
        // A split node: Parent at the root, Delete and every view type grey.
        {"(V,50,(H,50,2,3),O)",
         "",
         {"&Go to:", "&Child", "&Parent grey", "&Delete grey", "&View type:", "&2D view grey",
          "&3D view grey", "&Object list grey"}},
        // A leaf: its kind checked, Child grey, Object list grey while a list exists.
        {"(V,50,(H,50,2,3),O)",
         "01",
         {"&Go to:", "&Child grey", "&Parent", "&Delete", "&View type:", "&2D view",
          "&3D view checked", "&Object list grey"}},
        {"(H,50,2,3)",
         "0",
         {"&Go to:", "&Child grey", "&Parent", "&Delete", "&View type:", "&2D view checked",
          "&3D view", "&Object list"}},
    };
    for (const auto& [layout, path, state] : cases) {
      window_->Build(layout);
      ViewConfigWindow overlay(*window_, window_.get());
      overlay.Open();
      GoTo(overlay, path);
      std::unique_ptr<QMenu> menu(overlay.CreateContextMenu(nullptr));
      QCOMPARE(MenuState(menu.get()), state);
    }
  }

  void keysMoveTheSelection() {
    window_->Build("(V,50,(H,50,2,3),O)");
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    // Page Up at the root and Page Down on a leaf do nothing; an arrow key goes to the other
    // pane of the splitter.
    const std::pair<Qt::Key, const char*> steps[] = {
        {Qt::Key_PageUp, ""}, {Qt::Key_PageDown, "0"},  {Qt::Key_Right, "1"},
        {Qt::Key_Up, "0"},    {Qt::Key_PageDown, "00"}, {Qt::Key_PageDown, "00"},
        {Qt::Key_Left, "01"}, {Qt::Key_PageUp, "0"},
    };
    for (const auto& [key, path] : steps) {
      QTest::keyClick(&overlay, key);
      QVERIFY2(overlay.currentNode() == window_->At(path), path);
      QCOMPARE(GlobalRect(&overlay), GlobalRect(window_->At(path)));
    }
    QTest::keyClick(&overlay, Qt::Key_Escape);
    QVERIFY(!overlay.isVisible());
  }

  void hoverFollowsThePointerOnlyWhenItMoves() {
    window_->Build("(V,50,(H,50,2,3),O)");
    QWidget* list = window_->At("1");
    QCursor::setPos(GlobalRect(list).center());
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    // The pointer rests over the list, outside the band the keys chose: the choice holds.
    GoTo(overlay, "0");
    QTest::qWait(350);
    QCOMPARE(overlay.currentNode(), window_->At("0"));
    // Moved, it takes the frame under it.
    QCursor::setPos(GlobalRect(list).center() + QPoint(10, 0));
    QTRY_COMPARE(overlay.currentNode(), list);
    QCOMPARE(GlobalRect(&overlay), GlobalRect(list));
    QTest::keyClick(&overlay, Qt::Key_Up);
    QTest::qWait(350);
    QCOMPARE(overlay.currentNode(), window_->At("0"));

    // Inside the overlay, and while an edge is dragged out of it, the selection holds.
    QWidget* photo = window_->At("00");
    QWidget* model = window_->At("01");
    overlay.HoverAt(GlobalRect(photo).center());
    QCOMPARE(overlay.currentNode(), window_->At("0"));
    QTest::keyClick(&overlay, Qt::Key_PageDown);
    QTest::keyClick(&overlay, Qt::Key_Right);
    QTest::mousePress(&overlay, Qt::LeftButton, Qt::NoModifier, QPoint(2, overlay.height() / 2));
    overlay.HoverAt(GlobalRect(photo).center());
    QCOMPARE(overlay.currentNode(), model);
    QTest::mouseRelease(&overlay, Qt::LeftButton, Qt::NoModifier, QPoint(2, overlay.height() / 2));
    overlay.HoverAt(GlobalRect(photo).center());
    QCOMPARE(overlay.currentNode(), photo);
  }

 private:
  std::unique_ptr<TestWindow> window_;
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
