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

RecoveryKeeper::RecoveryKeeper(const model::ProjectDocument& document, model::DocumentHost& host,
                               std::string folder, int intervalMs, QObject* parent)
    : QObject(parent), document_(document), host_(host), folder_(std::move(folder)) {
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
  WaitForWrite();
  RemoveCopy(writtenCopy_);
  RemoveCopy(CopyPath(document_.projectPath()));
  writtenCopy_.clear();
  lastText_ = model::WriteProjectText(document_.project());
}

void RecoveryKeeper::ChangesDropped() {
  WaitForWrite();
  RemoveCopy(writtenCopy_);
  writtenCopy_.clear();
  // The changes still in memory were let go: they are not copied again, should the timer fire
  // before the window has closed.
  lastText_ = model::WriteProjectText(document_.project());
}

void RecoveryKeeper::WriteIfChanged() {
  if (folder_.empty() || !CollectWrite(false) || !document_.modified()) return;
  try {
    std::string text = model::WriteProjectText(document_.project());
    if (text == lastText_) return;
    const std::string copy = CopyPath(document_.projectPath());
    // A copy under another name (the project was given a path since) is out of date once the
    // new one is written.
    std::string outdated = writtenCopy_ != copy ? writtenCopy_ : std::string();
    lastText_ = text;
    writtenCopy_ = copy;
    write_ = std::async(std::launch::async,
                        [folder = folder_, copy, text = std::move(text),
                         outdated = std::move(outdated)]() -> std::string {
                          std::error_code ignored;
                          std::filesystem::create_directories(folder, ignored);
                          std::string error;
                          if (!images::WriteFileAtomically(copy, text, error)) {
                            return "Cannot write the recovery copy \"" + copy + "\": " + error;
                          }
                          if (!outdated.empty()) std::remove(outdated.c_str());
                          return {};
                        });
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
