#include <QMenu>
#include <QSplitter>
#include <QTest>
#include <QVBoxLayout>
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
using modrin::app::ParentNodeOf;
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
    QVERIFY(modrin::app::ParseLayout("(H,25,2,X)", true).has_value());
    // Nesting is bounded, so no string can exhaust the stack.
    std::string deep;
    for (int i = 0; i < 40; ++i) deep += "(H,50,2,";
    deep += "2" + std::string(40, ')');
    QVERIFY(!IsValidLayout(deep));
  }

  void buildsTheDefaultLayoutDepthFirst() {
    window_->Build("");
    QCOMPARE(window_->Kinds(), QString("O2223"));
    cSplitView* root = window_->layoutRoot();
    QCOMPARE(root->splitter()->orientation(), Qt::Vertical);
    // The upper band takes 47 % of the height, the object list 11 % of its width.
    const QList<int> bands = root->splitter()->sizes();
    QVERIFY(qAbs(bands[0] * 100.0 / (bands[0] + bands[1]) - 47) < 1);
    QWidget* list = window_->frames().front();
    QVERIFY(qAbs(list->width() * 100.0 / ParentNodeOf(list)->width() - 11) < 1.5);
  }

  void writesBackWhatItBuilt() {
    for (const char* layout :
         {modrin::app::kDefaultLayout, "(H,30,(V,60,3,(H,50,2,O)),(V,25,2,(H,70,(V,40,2,2),3)))"}) {
      window_->Build(layout);
      const std::string written = window_->layoutRoot()->ToLayoutString();
      auto expected = modrin::app::ParseLayout(layout);
      auto actual = modrin::app::ParseLayout(written);
      QVERIFY2(actual.has_value(), written.c_str());
      // The same tree with the same codes; each share measured again, within a percent.
      std::function<void(const modrin::app::LayoutNode&, const modrin::app::LayoutNode&)> same =
          [&](const auto& a, const auto& b) {
            QCOMPARE(a.sideBySide, b.sideBySide);
            QVERIFY2(qAbs(a.percent - b.percent) <= 1, written.c_str());
            QCOMPARE(a.first.code, b.first.code);
            QCOMPARE(a.second.code, b.second.code);
            if (a.first.node) same(*a.first.node, *b.first.node);
            if (a.second.node) same(*a.second.node, *b.second.node);
          };
      same(*expected, *actual);
      // Built again from what it wrote, it writes the same.
      window_->Build(written);
      QCOMPARE(window_->layoutRoot()->ToLayoutString(), written);
    }
  }

  void invalidStringBuildsTheDefault() {
    window_->Build("(H,50,2,(V,50,3");
    QCOMPARE(window_->Kinds(), QString("O2223"));
  }

  void splitRules() {
    const QRect node(100, 50, 400, 200);  // left 100, right 500, top 50, bottom 250
    QCOMPARE(ViewConfigWindow::Split(node, node.adjusted(100, 0, 0, 0), '2'),
             std::string("(H,25,2,X)"));
    QCOMPARE(ViewConfigWindow::Split(node, node.adjusted(0, 0, -100, 0), '3'),
             std::string("(H,75,X,3)"));
    QCOMPARE(ViewConfigWindow::Split(node, node.adjusted(0, 10, 0, 0), '2'),
             std::string("(V,05,2,X)"));
    QCOMPARE(ViewConfigWindow::Split(node, node.adjusted(0, 0, 0, -50), '2'),
             std::string("(V,75,X,2)"));
    // The left edge wins over the others; an untouched overlay splits nothing.
    QCOMPARE(ViewConfigWindow::Split(node, node.adjusted(40, 10, -10, -10), '2'),
             std::string("(H,10,2,X)"));
    QCOMPARE(ViewConfigWindow::Split(node, node, '2'), std::string());
  }

  void draggingTheLeftEdgeSplitsOffAQuarter() {
    window_->Build("(H,50,2,3)");
    window_->resize(801 + window_->layoutRoot()->splitter()->handleWidth(), 600);
    TestWindow::Settle();
    QWidget* photo = window_->frames()[0];
    const int width = photo->width();
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    overlay.SetCurrent(photo);
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
    cSplitView* node = ParentNodeOf(photo);
    QVERIFY(node != window_->layoutRoot());
    QCOMPARE(modrin::app::PaneOf(node, 1), photo);
    QCOMPARE(modrin::app::PaneOf(node, 0), window_->frames().back());
    QCOMPARE(node->ToLayoutString(), std::string("(H,25,2,2)"));
    // The split node stays current, the overlay over it.
    QCOMPARE(overlay.currentNode(), photo);
    QCOMPARE(GlobalRect(&overlay), GlobalRect(photo));
  }

  void deleteKeepsASplitNodeAtTheTop() {
    window_->Build("(H,50,2,3)");
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    // The root cannot be deleted, nor a leaf whose sibling under the root is a leaf.
    overlay.DeleteCurrent();
    overlay.SetCurrent(window_->frames()[0]);
    overlay.DeleteCurrent();
    QCOMPARE(window_->Kinds(), QString("23"));

    window_->Build("(V,50,2,(H,50,3,O))");
    overlay.SetCurrent(window_->frames()[0]);
    QTest::keyClick(&overlay, Qt::Key_Delete);
    // The nested node took the root's place and is current.
    QCOMPARE(window_->Kinds(), QString("3O"));
    QCOMPARE(window_->layoutRoot()->ToLayoutString(), std::string("(H,50,3,O)"));
    QCOMPARE(overlay.currentNode(), window_->layoutRoot());

    window_->Build("(V,50,2,(H,50,3,(V,50,2,O)))");
    QWidget* lower = window_->frames()[2];
    overlay.SetCurrent(lower);
    QTest::keyClick(&overlay, Qt::Key_Backspace);
    QCOMPARE(window_->Kinds(), QString("23O"));
    QCOMPARE(window_->layoutRoot()->ToLayoutString(), std::string("(V,50,2,(H,50,3,O))"));
    QCOMPARE(overlay.currentNode(), window_->frames()[2]);
  }

  void changingTheKindKeepsThePlace() {
    window_->Build("(V,50,(H,50,2,2),3)");
    QWidget* second = window_->frames()[1];
    const QRect place = GlobalRect(second);
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    overlay.SetCurrent(second);
    overlay.RunCommand(ViewConfigWindow::kTo3DView);
    TestWindow::Settle();
    QCOMPARE(window_->Kinds(), QString("233"));
    QWidget* changed = window_->frames().back();
    QCOMPARE(overlay.currentNode(), changed);
    QCOMPARE(GlobalRect(changed), place);
    QCOMPARE(window_->layoutRoot()->ToLayoutString(), std::string("(V,50,(H,50,2,3),3)"));
  }

  void contextMenuGreysWhatCannotBeDone() {
    window_->Build("(V,50,(H,50,2,3),O)");
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    auto stateOf = [&](QWidget* node) {
      overlay.SetCurrent(node);
      std::unique_ptr<QMenu> menu(overlay.CreateContextMenu(nullptr));
      return MenuState(menu.get());
    };
    // The root, a split node: Parent, Delete and every view type grey.
    QCOMPARE(stateOf(window_->layoutRoot()),
             (QStringList{"&Go to:", "&Child", "&Parent grey", "&Delete grey",
                          "&View type:", "&2D view grey", "&3D view grey", "&Object list grey"}));
    // A 3D frame: its kind checked, Child grey, Object list grey while a list exists.
    QCOMPARE(stateOf(window_->frames()[1]),
             (QStringList{"&Go to:", "&Child grey", "&Parent", "&Delete", "&View type:", "&2D view",
                          "&3D view checked", "&Object list grey"}));
    // Without an object list it may be chosen.
    window_->Build("(H,50,2,3)");
    QCOMPARE(stateOf(window_->frames()[0]),
             (QStringList{"&Go to:", "&Child grey", "&Parent", "&Delete",
                          "&View type:", "&2D view checked", "&3D view", "&Object list"}));
  }

  void keysMoveTheSelection() {
    window_->Build("(V,50,(H,50,2,3),O)");
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    cSplitView* root = window_->layoutRoot();
    QTest::keyClick(&overlay, Qt::Key_PageUp);
    QCOMPARE(overlay.currentNode(), root);
    QTest::keyClick(&overlay, Qt::Key_PageDown);
    QWidget* band = modrin::app::PaneOf(root, 0);
    QCOMPARE(overlay.currentNode(), band);
    QTest::keyClick(&overlay, Qt::Key_Right);
    QCOMPARE(overlay.currentNode(), window_->frames()[2]);
    QTest::keyClick(&overlay, Qt::Key_Up);
    QCOMPARE(overlay.currentNode(), band);
    QTest::keyClick(&overlay, Qt::Key_PageDown);
    QCOMPARE(overlay.currentNode(), window_->frames()[0]);
    // Page Down on a leaf does nothing.
    QTest::keyClick(&overlay, Qt::Key_PageDown);
    QCOMPARE(overlay.currentNode(), window_->frames()[0]);
    QTest::keyClick(&overlay, Qt::Key_PageUp);
    QCOMPARE(overlay.currentNode(), band);
    QTest::keyClick(&overlay, Qt::Key_Escape);
    QVERIFY(!overlay.isVisible());
  }

  void hoverSelectsTheLeafUnderTheCursor() {
    window_->Build("(H,50,2,3)");
    ViewConfigWindow overlay(*window_, window_.get());
    overlay.Open();
    QWidget* photo = window_->frames()[0];
    QWidget* model = window_->frames()[1];
    // Inside the overlay (which covers the root) nothing changes.
    overlay.HoverAt(GlobalRect(photo).center());
    QCOMPARE(overlay.currentNode(), window_->layoutRoot());
    overlay.SetCurrent(photo);
    overlay.HoverAt(GlobalRect(model).center());
    QCOMPARE(overlay.currentNode(), model);
    QCOMPARE(GlobalRect(&overlay), GlobalRect(model));

    // During a drag the cursor may leave the shrinking overlay; the selection holds.
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
