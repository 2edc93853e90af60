#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <future>
#include <string>

#include "model/project_document.h"

class QWidget;

namespace modrin::app {

class UserDialogs;

// The environment variable that sets how often recovery copies are written, in milliseconds
// (for tests; never more than kRecoveryIntervalMs, at least kShortestRecoveryIntervalMs).
inline constexpr char kRecoveryIntervalVariable[] = "MODRIN_RECOVERY_INTERVAL_MS";
inline constexpr int kRecoveryIntervalMs = 60'000;
inline constexpr int kShortestRecoveryIntervalMs = 100;

// The interval kRecoveryIntervalVariable asks for, kept within its bounds; kRecoveryIntervalMs
// when it is not set or not a number.
int RecoveryIntervalMs(const char* variable);

// "Unsaved changes to <file> from <date, time> were found. Recover them?": `file` the project
// path ("untitled" for a project never saved), the time in the locale's short format.
QString RecoveryQuestion(const std::string& projectPath, const QDateTime& written);

// Keeps a recovery copy of the document's project while it has unsaved changes: every interval
// the project text is taken on the GUI thread and, when it differs from the last copy's, written
// atomically to the recovery folder on a worker thread, one write at a time. It also offers the
// copy found when a project is opened, and removes copies once they are no longer needed.
class RecoveryKeeper : public QObject {
  Q_OBJECT

 public:
  // Copies go to `folder` (empty: none are written or offered); `host` shows a failed write in
  // the status bar. While `projectBusy` is true (a calibration run changes the project on its
  // worker thread) the project is not read, and the copy waits for the next tick.
  RecoveryKeeper(const model::ProjectDocument& document, model::DocumentHost& host,
                 std::string folder, int intervalMs, std::function<bool()> projectBusy,
                 QObject* parent = nullptr);
  // Waits for the write in flight, so that no half-done copy is left by a clean exit.
  ~RecoveryKeeper() override;

  // Where the copy of the project at `projectPath` (empty: untitled) lives.
  std::string CopyPath(const std::string& projectPath) const;

  // Before the project at `projectPath` opens: when its copy is newer than the file, asks
  // whether to recover it. Yes gives the copy's path to open in the file's place; No removes
  // the copy; Cancel keeps it for later. A copy that cannot be read is reported, naming it and
  // the reason, and kept. Empty unless the answer was Yes. No copy is written from here until
  // OpenEnded: the project in memory is about to be replaced, and a copy of it written while
  // the question waits would overwrite the one offered.
  std::string OfferCopy(const std::string& projectPath, UserDialogs& dialogs, QWidget* parent);
  // An open has ended; copies are written again. When `opened`, a project was opened (from its
  // file or from a recovered copy): only changes made from now on are copied.
  void OpenEnded(bool opened);
  // The project was saved: the copy of its path and the copy last written are removed.
  void ProjectSaved();
  // The unsaved changes were let go, or there are none (before an open, at a clean exit): the
  // copy this session wrote (or recovered) is removed. Copies kept for later stay.
  void ChangesDropped();

  // Takes the project text and starts writing it when the project has unsaved changes that no
  // copy holds yet and no write is under way. The timer calls it.
  void WriteIfChanged();
  // Waits for the write in flight, if any, and takes its outcome.
  void WaitForWrite();

 private:
  // Takes the outcome of a finished write; false while one is still running.
  bool CollectWrite(bool wait);
  void RemoveCopy(const std::string& path);

  const model::ProjectDocument& document_;
  model::DocumentHost& host_;
  std::string folder_;
  std::function<bool()> projectBusy_;
  QTimer timer_;
  std::future<std::string> write_;  // the error of the write in flight; empty when it worked
  std::string lastText_;            // the text of the last copy written, or of the file opened
  std::string writtenCopy_;         // the copy this session wrote or recovered; empty: none
  std::string adoptedCopy_;         // the copy the last OfferCopy gave for opening
};

}  // namespace modrin::app
