#pragma once

#include <QString>
#include <QStringList>

class QSettings;

namespace modrin::app {

// The list of the last project files, newest first, kept in the settings under
// "Recent File List" as "File1" to "File4".
class RecentFileList {
 public:
  static constexpr int kSize = 4;

  // Reads the list from `settings`, which outlives it.
  explicit RecentFileList(QSettings& settings);

  const QStringList& entries() const { return entries_; }
  // Puts `path` at the top (moving it there when listed), drops what falls off the end, and
  // writes the list back.
  void Add(const QString& path);
  // Takes `path` out of the list and writes the list back.
  void Remove(const QString& path);

 private:
  void Write();

  QSettings& settings_;
  QStringList entries_;
};

}  // namespace modrin::app
