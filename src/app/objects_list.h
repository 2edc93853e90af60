#pragma once

#include <QString>
#include <QWidget>

class QTreeWidget;
class QTreeWidgetItem;

namespace modrin::model {
class Object;
class Project;
}  // namespace modrin::model

namespace modrin::app {

// The object list of the layout: a tree whose root "Object List" holds one item per object of
// the project, ticked when the object is current. From it the user adds, removes and renames
// objects and chooses the current ones.
//
// Items belong to objects by label only: every operation finds the object of an item as the
// first object, in the project's order, whose name equals the label exactly. After a rename to
// an existing name, both items therefore act on the first object of that name.
//
// Every change the list makes to the objects (new, delete, rename, tick) is reported with
// projectChanged, so that it can be saved.
class uiObjectsList : public QWidget {
  Q_OBJECT

 public:
  // Context-menu command identifiers.
  static constexpr int kNewCommand = 32792;
  static constexpr int kDeleteCommand = 32793;

  explicit uiObjectsList(QWidget* parent = nullptr);

  // The project the list shows; none until the first Redisplay gives it. It outlives the list.
  // Giving it does not refill the list.
  void SetProject(model::Project* project) { project_ = project; }
  model::Project* project() const { return project_; }

  // Rebuilds the items from the project's objects; a project without objects first gets a
  // current object "Object", so the project always has one afterwards. Without a project the
  // list is left empty.
  void Refill();

  // "&New": adds an object "Object" (made unique with a counter) and makes it the only
  // current one; a list not filled yet is filled first. Nothing without a project.
  void New();
  // "&Delete": removes the object of the selected item together with the item. Nothing when
  // no item or the root item is selected.
  void Delete();

  // The tree showing the items, and its root item "Object List" (nullptr while empty).
  QTreeWidget* tree() const { return tree_; }
  QTreeWidgetItem* rootItem() const { return root_; }

 signals:
  // The list changed the project's objects.
  // An edit of the objects ended: one undoable step named `step`.
  void projectChanged(const QString& step);
  // A text for the status bar: why an edit was refused.
  void statusMessage(const QString& text);
  // "Redraw 2D views" for the main window.
  void redraw2DRequested();
  // "Redraw 3D view" for every 3D frame.
  void redraw3DRequested();

 private:
  // The first object whose name equals `label`, or nullptr.
  model::Object* FindObject(const QString& label) const;
  // Appends an object item under the root with its box ticked or clear.
  QTreeWidgetItem* AppendObjectItem(const QString& label, bool checked);
  // Ticks or clears an item's box without taking it for a click.
  void SetItemChecked(QTreeWidgetItem* item, bool checked);
  // The label edit of `item` ended with `text`: the object of the old label takes the new name.
  // False when the name is refused; the label then stays.
  bool Rename(QTreeWidgetItem* item, const QString& text);
  void OnItemChanged(QTreeWidgetItem* item, int column);
  void ShowContextMenu(const QPoint& position);

  model::Project* project_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QTreeWidgetItem* root_ = nullptr;
  // Set while the list itself changes items, so that item signals are not taken for the user's.
  bool updating_ = false;
};

}  // namespace modrin::app
