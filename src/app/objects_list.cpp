#include "app/objects_list.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>
#include <string>
#include <utility>

#include "model/project.h"

namespace modrin::app {

namespace {

// The name every new object starts from; AddObject appends a counter when it is taken.
constexpr char kNewObjectName[] = "Object";
// An item's box state as the list last set or saw it. The tree reports a changed box and a
// changed label through the same signal; comparing with this tells them apart.
constexpr int kShownCheckRole = Qt::UserRole;

// Object names are 8-bit strings; the labels show them as UTF-8.
QString LabelOf(const std::string& name) { return QString::fromStdString(name); }
std::string NameOf(const QString& label) { return label.toStdString(); }

// The commands of the context menu.
struct MenuCommand {
  int id;
  const char* text;
  const char* statusTip;
  void (uiObjectsList::*run)();
  bool offeredOnRoot;
};
constexpr MenuCommand kMenuCommands[] = {
    {uiObjectsList::kNewCommand, "&New", "Add a new object", &uiObjectsList::New, true},
    {uiObjectsList::kDeleteCommand, "&Delete", "Remove the object", &uiObjectsList::Delete, false},
};

// Edits the labels: hands a finished edit to the list before the label changes, while the
// old label still names the object, and keeps Enter and Escape inside the edit box so that no
// window shortcut takes them while a label is edited.
class LabelDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // True when the new text is taken as the label.
  using RenameHandler = std::function<bool(const QModelIndex& index, const QString& text)>;

  explicit LabelDelegate(RenameHandler onRename, QObject* parent = nullptr)
      : QStyledItemDelegate(parent), onRename_(std::move(onRename)) {}

  // Runs only for an edit that ends with a text; a cancelled edit never comes here. A refused
  // name leaves the old label.
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override {
    auto* edit = qobject_cast<QLineEdit*>(editor);
    if (edit != nullptr && !onRename_(index, edit->text())) return;
    QStyledItemDelegate::setModelData(editor, model, index);
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::ShortcutOverride) {
      switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
          event->accept();
          return true;
        default:
          break;
      }
    }
    return QStyledItemDelegate::eventFilter(object, event);
  }

 private:
  RenameHandler onRename_;
};

}  // namespace

uiObjectsList::uiObjectsList(QWidget* parent) : QWidget(parent), tree_(new QTreeWidget(this)) {
  tree_->setColumnCount(1);
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(true);
  tree_->setItemsExpandable(true);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  // A second click on the selected item or F2 edits its label; a double click only expands.
  tree_->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  tree_->setItemDelegate(new LabelDelegate(
      [this](const QModelIndex& index, const QString& text) {
        return Rename(tree_->itemFromIndex(index), text);
      },
      tree_));
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(tree_, &QWidget::customContextMenuRequested, this, &uiObjectsList::ShowContextMenu);
  connect(tree_, &QTreeWidget::itemChanged, this, &uiObjectsList::OnItemChanged);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tree_);
  setFocusProxy(tree_);
}

void uiObjectsList::Refill() {
  const QScopedValueRollback guard(updating_, true);
  tree_->clear();
  root_ = nullptr;
  if (project_ == nullptr) return;

  root_ = new QTreeWidgetItem(tree_, QStringList(tr("Object List")));
  // The root can be neither renamed nor ticked.
  root_->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  if (project_->objects.empty()) project_->AddObject(kNewObjectName).current = true;
  for (const auto& object : project_->objects) {
    AppendObjectItem(LabelOf(object->name), object->current);
  }
  root_->setExpanded(true);
}

void uiObjectsList::New() {
  if (project_ == nullptr) return;
  if (root_ == nullptr) Refill();
  const QString name = LabelOf(project_->AddObject(kNewObjectName).name);
  AppendObjectItem(name, false);
  // Every item is ticked or cleared by its label and its object follows the box. The new name
  // is unique, so the new object ends up the only current one; of two items sharing a label
  // only the first object of that name follows, and it follows the later item.
  for (int i = 0; i < root_->childCount(); ++i) {
    QTreeWidgetItem* item = root_->child(i);
    const bool ticked = item->text(0) == name;
    SetItemChecked(item, ticked);
    if (model::Object* object = FindObject(item->text(0))) object->current = ticked;
  }
  root_->setExpanded(true);
  update();
  emit projectChanged(tr("New Object"));
  emit redraw2DRequested();
  // The 3D views show the current objects only, and the new object is now the only one.
  emit redraw3DRequested();
}

void uiObjectsList::Delete() {
  if (project_ == nullptr || root_ == nullptr) return;
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  if (selected.isEmpty()) return;
  QTreeWidgetItem* item = selected.front();
  if (item->parent() != root_) return;

  if (model::Object* object = FindObject(item->text(0))) {
    // RemoveObject takes the first object of that name, which is the one found. The name is
    // copied: it dies with the object.
    project_->RemoveObject(std::string(object->name));
    emit projectChanged(tr("Delete Object"));
  }
  const int index = root_->indexOfChild(item);
  QTreeWidgetItem* previous = index > 0 ? root_->child(index - 1) : nullptr;
  {
    const QScopedValueRollback guard(updating_, true);
    delete item;
  }
  if (previous != nullptr) previous->setExpanded(true);
  update();
  emit redraw2DRequested();
  // The 3D views still hold the removed object's triangles until they rebuild.
  emit redraw3DRequested();
}

model::Object* uiObjectsList::FindObject(const QString& label) const {
  if (project_ == nullptr) return nullptr;
  // Comparing the shown texts equals comparing the names byte for byte for every valid UTF-8
  // name, and still finds a name that is not valid UTF-8 by the label it was shown with.
  for (const auto& object : project_->objects) {
    if (LabelOf(object->name) == label) return object.get();
  }
  return nullptr;
}

QTreeWidgetItem* uiObjectsList::AppendObjectItem(const QString& label, bool checked) {
  const QScopedValueRollback guard(updating_, true);
  auto* item = new QTreeWidgetItem(QStringList(label));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable |
                 Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren);
  SetItemChecked(item, checked);
  root_->addChild(item);
  return item;
}

void uiObjectsList::SetItemChecked(QTreeWidgetItem* item, bool checked) {
  const QScopedValueRollback guard(updating_, true);
  item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
  item->setData(0, kShownCheckRole, checked);
}

bool uiObjectsList::Rename(QTreeWidgetItem* item, const QString& text) {
  // The root is not editable, so no edit of it should end here; refuse it all the same.
  if (item == nullptr || item->parent() != root_) return false;
  // The item still shows the old label: it names the object that is renamed. Names need not
  // stay unique.
  model::Object* object = FindObject(item->text(0));
  if (object == nullptr || text == item->text(0)) return true;
  if (!project_->RenameObject(*object, NameOf(text))) {
    emit statusMessage(tr("An object name cannot hold a double quote (\"); \"%1\" keeps its name.")
                           .arg(item->text(0)));
    return false;
  }
  emit projectChanged(tr("Rename Object"));
  return true;
}

void uiObjectsList::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (updating_ || column != 0 || root_ == nullptr || item->parent() != root_) return;
  const bool checked = item->checkState(0) == Qt::Checked;
  // A finished label edit reports the same way; it leaves the box as it was.
  if (item->data(0, kShownCheckRole).toBool() == checked) return;

  // Only a click on the box (or Space on the item, its keyboard twin) toggles it; a click on
  // the label does not reach here with a new box state.
  SetItemChecked(item, checked);
  if (model::Object* object = FindObject(item->text(0))) {
    object->current = checked;
    emit projectChanged(checked ? tr("Tick Object") : tr("Untick Object"));
  }
  emit redraw2DRequested();
  emit redraw3DRequested();
}

void uiObjectsList::ShowContextMenu(const QPoint& position) {
  if (project_ == nullptr) return;
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  const bool rootSelected = root_ != nullptr && !selected.isEmpty() && selected.front() == root_;

  auto* menu = new QMenu(tr("Objects"), this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (const MenuCommand& command : kMenuCommands) {
    if (rootSelected && !command.offeredOnRoot) continue;
    QAction* action = menu->addAction(tr(command.text), this, command.run);
    action->setStatusTip(tr(command.statusTip));
    action->setData(command.id);
  }
  menu->popup(tree_->viewport()->mapToGlobal(position));
}

}  // namespace modrin::app

#include "objects_list.moc"
