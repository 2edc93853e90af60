#include "app/recent_files.h"

#include <QFileInfo>
#include <QSettings>

namespace modrin::app {

namespace {

constexpr char kGroup[] = "Recent File List";

QString EntryKey(int index) { return QStringLiteral("File%1").arg(index + 1); }

}  // namespace

RecentFileList::RecentFileList(QSettings& settings) : settings_(settings) {
  settings_.beginGroup(kGroup);
  for (int i = 0; i < kSize; ++i) {
    const QString path = settings_.value(EntryKey(i)).toString();
    if (!path.isEmpty() && !entries_.contains(path)) entries_ << path;
  }
  settings_.endGroup();
}

void RecentFileList::Add(const QString& path) {
  if (path.isEmpty()) return;
  // Listed as the full path, so the entry still names the file after the working folder
  // changes.
  const QString full = QFileInfo(path).absoluteFilePath();
  entries_.removeAll(full);
  entries_.prepend(full);
  while (entries_.size() > kSize) entries_.removeLast();
  Write();
}

void RecentFileList::Remove(const QString& path) {
  if (entries_.removeAll(path) > 0) Write();
}

void RecentFileList::Write() {
  settings_.beginGroup(kGroup);
  for (int i = 0; i < kSize; ++i) {
    if (i < entries_.size()) {
      settings_.setValue(EntryKey(i), entries_[i]);
    } else {
      settings_.remove(EntryKey(i));
    }
  }
  settings_.endGroup();
  settings_.sync();
}

}  // namespace modrin::app
