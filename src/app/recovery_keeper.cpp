#include "app/recovery_keeper.h"

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

#include "app/user_dialogs.h"
#include "images/file_io.h"
#include "model/project_file.h"
#include "model/recovery_store.h"

namespace modrin::app {

int RecoveryIntervalMs(const char* variable) {
  if (variable == nullptr) return kRecoveryIntervalMs;
  int value = 0;
  const char* end = variable + std::strlen(variable);
  const auto [stop, error] = std::from_chars(variable, end, value);
  if (error != std::errc() || stop != end || stop == variable) return kRecoveryIntervalMs;
  return std::clamp(value, kShortestRecoveryIntervalMs, kRecoveryIntervalMs);
}

QString RecoveryQuestion(const std::string& projectPath, const QDateTime& written) {
  const QString file =
      projectPath.empty() ? QStringLiteral("untitled") : QString::fromStdString(projectPath);
  // The two-argument arg() fills both places in one pass, so a "%2" in a path stays as it is.
  return QStringLiteral("Unsaved changes to %1 from %2 were found. Recover them?")
      .arg(file, QLocale().toString(written, QLocale::ShortFormat));
}

namespace {

// Runs on the worker thread: writes `text` as the copy `copy` in `folder`, then removes the
// copy `outdated` (none when empty). The error, naming the copy; empty when it worked.
std::string WriteCopy(const std::string& folder, const std::string& copy, const std::string& text,
                      const std::string& outdated) {
  // The copies hold the user's work: a folder made for them is the user's alone.
  std::error_code ignored;
  const std::filesystem::path path(folder);
  std::filesystem::create_directories(path.parent_path(), ignored);
  if (std::filesystem::create_directory(path, ignored)) {
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
  }
  std::string error;
  if (!images::WriteFileAtomically(copy, text, error)) {
    return "Cannot write the recovery copy \"" + copy + "\": " + error;
  }
  if (!outdated.empty()) std::remove(outdated.c_str());
  return {};
}

}  // namespace

RecoveryKeeper::RecoveryKeeper(const model::ProjectDocument& document, model::DocumentHost& host,
                               std::string folder, int intervalMs,
                               std::function<bool()> projectBusy, QObject* parent)
    : QObject(parent),
      document_(document),
      host_(host),
      folder_(std::move(folder)),
      projectBusy_(std::move(projectBusy)) {
  if (folder_.empty()) return;
  connect(&timer_, &QTimer::timeout, this, &RecoveryKeeper::WriteIfChanged);
  timer_.setInterval(intervalMs);
  timer_.start();
}

RecoveryKeeper::~RecoveryKeeper() { WaitForWrite(); }

std::string RecoveryKeeper::CopyPath(const std::string& projectPath) const {
  return folder_ + "/" + model::RecoveryFileName(projectPath);
}

std::string RecoveryKeeper::OfferCopy(const std::string& projectPath, UserDialogs& dialogs,
                                      QWidget* parent) {
  adoptedCopy_.clear();
  timer_.stop();
  WaitForWrite();
  const auto copy = model::FindNewerRecoveryCopy(folder_, projectPath);
  if (!copy) return {};
  // Offering a copy that cannot be opened would only lead to the same error after Yes.
  const model::FileResult check = model::CheckRecoveryCopy(copy->path);
  if (!check.ok()) {
    dialogs.ShowError(parent, QString::fromStdString(check.error));
    return {};
  }
  const auto msecs =
      std::chrono::duration_cast<std::chrono::milliseconds>(copy->written.time_since_epoch())
          .count();
  const QString question = RecoveryQuestion(projectPath, QDateTime::fromMSecsSinceEpoch(msecs));
  switch (dialogs.AskRecoverChanges(parent, question)) {
    case UserDialogs::Answer::Yes:
      adoptedCopy_ = copy->path;
      return copy->path;
    case UserDialogs::Answer::No:
      RemoveCopy(copy->path);
      return {};
    case UserDialogs::Answer::Cancel:
      return {};
  }
  return {};
}

void RecoveryKeeper::OpenEnded(bool opened) {
  if (!folder_.empty() && !timer_.isActive()) timer_.start();
  if (!opened) {
    adoptedCopy_.clear();
    return;
  }
  WaitForWrite();
  lastText_ = model::WriteProjectText(document_.project());
  // A recovered copy holds the project as it now is; it goes when the work is saved or let go.
  if (!adoptedCopy_.empty()) writtenCopy_ = std::move(adoptedCopy_);
  adoptedCopy_.clear();
}

void RecoveryKeeper::ProjectSaved() {
  ChangesDropped();
  // A copy kept for later is older than the file now, and would never be offered again.
  RemoveCopy(CopyPath(document_.projectPath()));
}

void RecoveryKeeper::ChangesDropped() {
  WaitForWrite();
  RemoveCopy(writtenCopy_);
  writtenCopy_.clear();
  // The project in memory is saved or let go: it is not copied again, should the timer fire
  // before the window has closed.
  lastText_ = model::WriteProjectText(document_.project());
}

void RecoveryKeeper::WriteIfChanged() {
  if (folder_.empty() || !CollectWrite(false)) return;
  if (!document_.modified()) {
    // Undone back to the state saved: the copy holds changes the user took back.
    if (!writtenCopy_.empty()) ChangesDropped();
    return;
  }
  if (projectBusy_ && projectBusy_()) return;
  try {
    std::string text = model::WriteProjectText(document_.project());
    if (text == lastText_) return;
    const std::string copy = CopyPath(document_.projectPath());
    // A copy under another name (the project was given a path since) is out of date once the
    // new one is written.
    std::string outdated = writtenCopy_ != copy ? writtenCopy_ : std::string();
    lastText_ = text;
    writtenCopy_ = copy;
    write_ = std::async(std::launch::async, WriteCopy, folder_, copy, std::move(text),
                        std::move(outdated));
  } catch (const std::exception& error) {
    // Out of memory or no thread to write on: the next tick tries again.
    lastText_.clear();
    host_.ShowStatus(std::string("Cannot write the recovery copy: ") + error.what());
  }
}

void RecoveryKeeper::WaitForWrite() { CollectWrite(true); }

bool RecoveryKeeper::CollectWrite(bool wait) {
  if (!write_.valid()) return true;
  if (!wait && write_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    return false;
  }
  const std::string error = write_.get();
  if (!error.empty()) {
    // Written again at the next tick, changed or not.
    lastText_.clear();
    host_.ShowStatus(error);
  }
  return true;
}

void RecoveryKeeper::RemoveCopy(const std::string& path) {
  if (!path.empty()) std::remove(path.c_str());
}

}  // namespace modrin::app
