#pragma once

#include <QDir>
#include <QFile>
#include <QRect>
#include <QString>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTreeWidget>

namespace modrin::app::testing {

// A fresh copy of the bundled house sample in `folder`, which is made empty first; the path of
// its project file, or empty when a file could not be copied.
inline QString CopyHouse(const QString& folder) {
  QDir(folder).removeRecursively();
  if (!QDir().mkpath(folder)) return {};
  const QDir source(qEnvironmentVariable("MODRIN_SOURCE_DIR") + "/examples/house");
  for (const QString& name : source.entryList(QDir::Files)) {
    if (!QFile::copy(source.filePath(name), folder + "/" + name)) return {};
  }
  return folder + "/house.mpj";
}

// The centre of the check box of `item`, in the tree's viewport.
inline QPoint CheckBoxCentre(QTreeWidget& tree, QTreeWidgetItem* item) {
  QStyleOptionViewItem option;
  option.initFrom(&tree);
  option.rect = tree.visualItemRect(item);
  option.features = QStyleOptionViewItem::HasCheckIndicator;
  return tree.style()
      ->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &tree)
      .center();
}

// Clicks the check box of `item` as a user does.
inline void ClickCheckBox(QTreeWidget& tree, QTreeWidgetItem* item) {
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, CheckBoxCentre(tree, item));
}

}  // namespace modrin::app::testing
