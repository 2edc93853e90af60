#include "app/objects_list.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/help_window.h"
#include "app/testing/house_sample.h"
#include "model/project.h"

using modrin::app::uiObjectsList;
using modrin::app::testing::ClickCheckBox;
using modrin::model::Project;

namespace {

// The objects' names in project order, "*" after those that are current.
QStringList Objects(const Project& project) {
  QStringList names;
  for (const auto& object : project.objects) {
    names << QString::fromStdString(object->name) + (object->current ? "*" : "");
  }
  return names;
}

// What the list shows under its root: the labels, "*" after those whose box is ticked.
QStringList Items(const uiObjectsList& list) {
  QStringList labels;
  for (int i = 0; i < list.rootItem()->childCount(); ++i) {
    const QTreeWidgetItem* item = list.rootItem()->child(i);
    labels << item->text(0) + (item->checkState(0) == Qt::Checked ? "*" : "");
  }
  return labels;
}

// Appends objects with exactly these names (repeats allowed, as after renaming or reading a
// file); object `current` is the current one (-1: none).
void AddObjects(Project& project, const std::vector<std::string>& names, int current) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    modrin::model::Object& object = project.AddObject(names[i]);
    object.name = names[i];
    object.current = static_cast<int>(i) == current;
  }
}

// Ends a label edit with Enter; the tree applies the new text once the key is handled.
void TypeLabel(QLineEdit* editor, const QString& text) {
  editor->selectAll();
  QTest::keyClicks(editor, text);
  const QPointer<QLineEdit> open(editor);
  QTest::keyClick(editor, Qt::Key_Return);
  // The editor closes at a later turn of the event loop, and the view ignores a press that
  // arrives before the loop has turned once more (it takes it for the click that closed the
  // editor); a user's next click always comes later. On a loaded machine one short wait may
  // see only the first of those turns.
  QTRY_VERIFY(open.isNull() || !open->isVisible());
  QTest::qWait(10);
}

// A point on the item's row right of its check box, where a click selects without ticking.
QPoint LabelPoint(const QTreeWidget& tree, QTreeWidgetItem* item) {
  return tree.visualItemRect(item).center();
}

void ClickLabel(uiObjectsList& list, QTreeWidgetItem* item) {
  QTest::mouseClick(list.tree()->viewport(), Qt::LeftButton, {}, LabelPoint(*list.tree(), item));
}

// What the list asked of the window since it was made: redraws of the 2D and 3D views, and
// changes of the project.
struct Requests {
  explicit Requests(const uiObjectsList& list)
      : redraw2D(&list, &uiObjectsList::redraw2DRequested),
        redraw3D(&list, &uiObjectsList::redraw3DRequested),
        changed(&list, &uiObjectsList::projectChanged) {}
  QList<qsizetype> counts() const { return {redraw2D.count(), redraw3D.count(), changed.count()}; }
  QSignalSpy redraw2D, redraw3D, changed;
};

// Right-clicks on `item` (nullptr: below the items) as the user does and returns the menu that
// opened, or nullptr.
QMenu* OpenContextMenu(uiObjectsList& list, QTreeWidgetItem* item) {
  QWidget* viewport = list.tree()->viewport();
  const QPoint point =
      item != nullptr ? LabelPoint(*list.tree(), item) : QPoint(5, viewport->height() - 5);
  QTest::mousePress(viewport, Qt::RightButton, {}, point);
  QTest::mouseRelease(viewport, Qt::RightButton, {}, point);
  QContextMenuEvent event(QContextMenuEvent::Mouse, point, viewport->mapToGlobal(point));
  QApplication::sendEvent(viewport, &event);
  return list.findChild<QMenu*>();
}
QStringList MenuTexts(const QMenu& menu) {
  QStringList texts;
  for (const QAction* action : menu.actions()) texts << action->text();
  return texts;
}
// Chooses a menu entry by its access letter, as with the keyboard.
void ChooseFromMenu(QMenu* menu, Qt::Key key) {
  QTest::keyClick(menu, key);
  delete menu;  // deleted later on its own; gone now so that the next look-up finds the next
}

// Opens the label editor of the selected item with F2 and returns it.
QLineEdit* EditLabel(uiObjectsList& list) {
  QTest::keyClick(list.tree(), Qt::Key_F2);
  return list.tree()->viewport()->findChild<QLineEdit*>();
}

}  // namespace

class ObjectsListTest : public QObject {
  Q_OBJECT

 private:
  // A shown list on `project_`, filled.
  uiObjectsList& ShowList() {
    list_ = std::make_unique<uiObjectsList>();
    list_->SetProject(project_.get());
    list_->Refill();
    list_->resize(300, 300);
    list_->show();
    [&] { QVERIFY(QTest::qWaitForWindowExposed(list_.get())); }();
    return *list_;
  }

  std::unique_ptr<Project> project_;
  std::unique_ptr<uiObjectsList> list_;

 private slots:
  void init() { project_ = std::make_unique<Project>(); }
  void cleanup() {
    list_.reset();
    project_.reset();
    delete modrin::app::OpenHelpWindow();
  }

  void refillMirrorsTheProject() {
    // A project without objects gets the current object "Object".
    uiObjectsList& list = ShowList();
    QCOMPARE(Objects(*project_), QStringList{"Object*"});
    QCOMPARE(list.rootItem()->text(0), QString("Object List"));
    QVERIFY(list.rootItem()->isExpanded());
    QCOMPARE(Items(list), QStringList{"Object*"});

    // Objects that exist are shown as they are and none is added; refilling twice shows them
    // once.
    project_->objects.clear();
    AddObjects(*project_, {"House", "Roof", "House"}, 1);
    list.Refill();
    list.Refill();
    QCOMPARE(Objects(*project_), (QStringList{"House", "Roof*", "House"}));
    QCOMPARE(list.tree()->topLevelItemCount(), 1);
    QCOMPARE(Items(list), (QStringList{"House", "Roof*", "House"}));
  }

  void withoutProjectNothingIsShown() {
    uiObjectsList list;
    list.Refill();
    QCOMPARE(list.tree()->topLevelItemCount(), 0);
    QVERIFY(list.rootItem() == nullptr);
    list.resize(200, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QVERIFY(OpenContextMenu(list, nullptr) == nullptr);
    list.New();
    list.Delete();
    QCOMPARE(list.tree()->topLevelItemCount(), 0);
  }

  void newMakesEachNewObjectTheOnlyCurrentOne() {
    AddObjects(*project_, {"Object"}, 0);
    uiObjectsList& list = ShowList();
    const Requests requests(list);
    const QStringList names{"Object", "Object1", "Object2", "Object3"};
    for (int n = 1; n <= 3; ++n) {
      ChooseFromMenu(OpenContextMenu(list, list.rootItem()->child(0)), Qt::Key_N);
      const QStringList expected = names.mid(0, n) << names[n] + "*";
      QCOMPARE(Objects(*project_), expected);
      QCOMPARE(Items(list), expected);
      QCOMPARE(requests.counts(), (QList<qsizetype>{n, n, n}));
    }
  }

  void deleteRemovesTheSelectedObject() {
    AddObjects(*project_, {"Object", "Object1", "Object2"}, 1);
    uiObjectsList& list = ShowList();
    const Requests requests(list);

    // The current object goes; no other object becomes current.
    QMenu* menu = OpenContextMenu(list, list.rootItem()->child(1));
    QVERIFY(menu != nullptr);
    QCOMPARE(list.tree()->selectedItems(), QList{list.rootItem()->child(1)});
    ChooseFromMenu(menu, Qt::Key_D);
    QCOMPARE(Objects(*project_), (QStringList{"Object", "Object2"}));
    QCOMPARE(Items(list), (QStringList{"Object", "Object2"}));
    QCOMPARE(requests.counts(), (QList<qsizetype>{1, 1, 1}));

    // The last object can go too; the root stays.
    ChooseFromMenu(OpenContextMenu(list, list.rootItem()->child(1)), Qt::Key_D);
    ChooseFromMenu(OpenContextMenu(list, list.rootItem()->child(0)), Qt::Key_D);
    QVERIFY(project_->objects.empty());
    QCOMPARE(list.tree()->topLevelItemCount(), 1);
    QCOMPARE(list.rootItem()->childCount(), 0);
  }

  void rootCanBeNeitherDeletedNorEdited() {
    AddObjects(*project_, {"Object"}, 0);
    uiObjectsList& list = ShowList();

    QMenu* onObject = OpenContextMenu(list, list.rootItem()->child(0));
    QVERIFY(onObject != nullptr);
    QCOMPARE(MenuTexts(*onObject), (QStringList{"&New", "&Delete"}));
    QCOMPARE(onObject->actions()[0]->statusTip(), QString("Add a new object"));
    QCOMPARE(onObject->actions()[1]->statusTip(), QString("Remove the object"));
    QCOMPARE(onObject->actions()[0]->data().toInt(), 32792);
    QCOMPARE(onObject->actions()[1]->data().toInt(), 32793);
    delete onObject;

    QMenu* onRoot = OpenContextMenu(list, list.rootItem());
    QVERIFY(onRoot != nullptr);
    QCOMPARE(list.tree()->selectedItems(), QList{list.rootItem()});
    QCOMPARE(MenuTexts(*onRoot), QStringList{"&New"});
    delete onRoot;

    // Even asked directly, Delete leaves the root and the objects alone.
    const Requests requests(list);
    list.Delete();
    QCOMPARE(Objects(*project_), QStringList{"Object*"});
    QCOMPARE(list.rootItem()->text(0), QString("Object List"));
    QCOMPARE(requests.counts(), (QList<qsizetype>{0, 0, 0}));

    // F2 on the root opens no editor, and the root has no check box to click.
    QVERIFY(EditLabel(list) == nullptr);
    QVERIFY(!list.rootItem()->data(0, Qt::CheckStateRole).isValid());
  }

  void onlyTheCheckBoxChangesCurrent() {
    AddObjects(*project_, {"Object", "Object1"}, 0);
    uiObjectsList& list = ShowList();
    const Requests requests(list);
    QTreeWidgetItem* second = list.rootItem()->child(1);

    ClickLabel(list, second);
    QCOMPARE(list.tree()->selectedItems(), QList{second});
    QCOMPARE(Objects(*project_), (QStringList{"Object*", "Object1"}));
    QCOMPARE(requests.counts(), (QList<qsizetype>{0, 0, 0}));

    // Any number of objects may be current.
    ClickCheckBox(*list.tree(), second);
    QCOMPARE(Objects(*project_), (QStringList{"Object*", "Object1*"}));
    QCOMPARE(Items(list), (QStringList{"Object*", "Object1*"}));
    QCOMPARE(requests.counts(), (QList<qsizetype>{1, 1, 1}));

    ClickCheckBox(*list.tree(), list.rootItem()->child(0));
    QCOMPARE(Objects(*project_), (QStringList{"Object", "Object1*"}));
    QCOMPARE(requests.counts(), (QList<qsizetype>{2, 2, 2}));

    // A click on the root changes nothing.
    ClickLabel(list, list.rootItem());
    QCOMPARE(Objects(*project_), (QStringList{"Object", "Object1*"}));
    QCOMPARE(requests.counts(), (QList<qsizetype>{2, 2, 2}));
  }

  void renameChangesTheObjectOfTheOldLabel() {
    AddObjects(*project_, {"Object", "Object1", "Object2"}, -1);
    uiObjectsList& list = ShowList();
    // Window shortcuts on Enter and Escape, as a main window could have them: while a label
    // is edited the keys belong to the edit box.
    QAction enter("Enter", &list);
    enter.setShortcut(Qt::Key_Return);
    QAction escape("Escape", &list);
    escape.setShortcut(Qt::Key_Escape);
    list.addAction(&enter);
    list.addAction(&escape);
    QSignalSpy entered(&enter, &QAction::triggered);
    QSignalSpy escaped(&escape, &QAction::triggered);
    list.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&list));
    const Requests requests(list);
    QSignalSpy refused(&list, &uiObjectsList::statusMessage);
    list.tree()->setCurrentItem(list.rootItem()->child(1));
    // A new label is no click on the box: no object becomes current.
    const QStringList renamed{"Object", "Roof", "Object2"};

    QLineEdit* editor = EditLabel(list);
    QVERIFY(editor != nullptr);
    TypeLabel(editor, "Roof");
    QTRY_COMPARE(Objects(*project_), renamed);
    QCOMPARE(Items(list), renamed);
    QCOMPARE(entered.count(), 0);
    QCOMPARE(requests.counts(), (QList<qsizetype>{0, 0, 1}));

    // A name the project file could not hold is refused, and the status bar says why.
    editor = EditLabel(list);
    QVERIFY(editor != nullptr);
    TypeLabel(editor, "Big \"red\" house");
    QTRY_COMPARE(refused.count(), 1);
    QCOMPARE(Objects(*project_), renamed);
    QCOMPARE(Items(list), renamed);
    QVERIFY(refused.last().at(0).toString().contains("\"Roof\""));
    QCOMPARE(requests.counts(), (QList<qsizetype>{0, 0, 1}));

    // A cancelled edit changes nothing.
    editor = EditLabel(list);
    QVERIFY(editor != nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "Chimney");
    QTest::keyClick(editor, Qt::Key_Escape);
    QCOMPARE(Objects(*project_), renamed);
    QCOMPARE(Items(list), renamed);
    QCOMPARE(escaped.count(), 0);
    QCOMPARE(requests.counts(), (QList<qsizetype>{0, 0, 1}));
  }

  void duplicateNamesActOnTheFirstObject() {
    AddObjects(*project_, {"Object", "Object1", "Door"}, -1);
    uiObjectsList& list = ShowList();
    QTreeWidgetItem* second = list.rootItem()->child(1);
    list.tree()->setCurrentItem(second);
    const modrin::model::Object* secondObject = project_->objects[1].get();

    // Renaming to a name that is taken is allowed.
    QLineEdit* editor = EditLabel(list);
    QVERIFY(editor != nullptr);
    TypeLabel(editor, "Object");
    QTRY_COMPARE(Objects(*project_), (QStringList{"Object", "Object", "Door"}));

    // The second item's box sets the first object of that name.
    ClickCheckBox(*list.tree(), second);
    QCOMPARE(Objects(*project_), (QStringList{"Object*", "Object", "Door"}));
    QCOMPARE(Items(list), (QStringList{"Object", "Object*", "Door"}));

    // Delete through the second item removes the first object and the second item.
    ChooseFromMenu(OpenContextMenu(list, second), Qt::Key_D);
    QCOMPARE(Objects(*project_), (QStringList{"Object", "Door"}));
    QVERIFY(project_->objects[0].get() == secondObject);
    QCOMPARE(Items(list), (QStringList{"Object", "Door"}));
  }
};

QTEST_MAIN(ObjectsListTest)
#include "objects_list_test.moc"
