#include "app/modrin_application.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QFileInfo>
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <new>

#include "app/background_work.h"
#include "app/help_window.h"
#include "app/main_frame.h"
#include "app/status_progress.h"
#include "app/web_export_dialog.h"
#include "export/save_model.h"
#include "export/web_export.h"
#include "images/camera_database.h"
#include "mesh/mesh_builder.h"
#include "model/recovery_store.h"

namespace modrin::app {

ModrinApplication::ModrinApplication(std::unique_ptr<UserDialogs> dialogs)
    : dialogs_(std::move(dialogs)),
      settings_(QSettings::NativeFormat, QSettings::UserScope, kProgramName, kProgramName),
      recent_(settings_),
      document_(*this),
      recovery_(document_, *this, model::RecoveryFolder(),
                RecoveryIntervalMs(std::getenv(kRecoveryIntervalVariable)),
                [this] { return frame_ != nullptr && frame_->calibrationRunning(); }) {}

ModrinApplication::~ModrinApplication() = default;

void ModrinApplication::Start(const QString& projectPath) {
  frame_ = std::make_unique<CMainFrame>(*this);
  frame_->show();
  // A window manager gives the new window the keys; without one (a bare X server) the window
  // would stay inactive, and its shortcuts, menus' access keys and F1 would not answer.
  frame_->activateWindow();
  LoadCameraDatabase();
  // How many steps undo keeps; at least the default, so a setting cannot take undo away.
  const qlonglong steps = settings_.value("Edit/UndoSteps", 0).toLongLong();
  document_.KeepUndoSteps(
      static_cast<std::size_t>(std::max<qlonglong>(steps, model::EditHistory::kDefaultStepLimit)));
  if (projectPath.isEmpty()) {
    // Without a project the untitled one may have left a recovery copy.
    ReportOpened(document_.OpenRecoveryOrFile());
    return;
  }
  document_.SetModified(true);
  // A file that cannot be read leaves an empty project without a path, so that the next Save
  // asks for a name instead of writing over the file that was refused.
  ReportOpened(document_.OpenPath(projectPath.toStdString()));
}

void ModrinApplication::Open() {
  if (!ConfirmUnsavedChanges()) return;
  ReportOpened(document_.Open());
}

void ModrinApplication::Save() { ReportSaved(document_.Save()); }

void ModrinApplication::SaveAs() { ReportSaved(document_.SaveAs()); }

void ModrinApplication::Save3DAs() {
  // The model goes beside the project file unless the user chooses otherwise.
  const std::string& projectPath = document_.projectPath();
  const QString folder = projectPath.empty()
                             ? QString()
                             : QFileInfo(QString::fromStdString(projectPath)).absolutePath();
  const QString chosen = dialogs_->AskModelFileName(frame_.get(), folder);
  if (chosen.isEmpty()) return;
  // The meshes are made afresh, as the 3D views make them: with no 3D view in the layout, or
  // one that does not redraw by itself, the last update may lie behind the project, and the
  // window must write what modrin-cli export writes from the same project.
  SetBusy(true);
  mesh::UpdateModelWithMeshes(project());
  SetBusy(false);
  const exporters::SaveModelResult result = exporters::SaveModel(project(), chosen.toStdString());
  if (!result.ok) dialogs_->ShowError(frame_.get(), QString::fromStdString(result.error));
}

void ModrinApplication::ShowWebExportDialog() {
  WebExportDialog dialog(webExportSettings_.value_or(exporters::WebExportSettings{}), *dialogs_,
                         ShowHelp, frame_.get());
  if (dialog.exec() != QDialog::Accepted) return;
  webExportSettings_ = dialog.settings();
  // The page shows the project as it is now, as Save 3D As writes it.
  SetBusy(true);
  mesh::UpdateModelWithMeshes(project());
  exporters::WebExportResult result;
  try {
    // Shrinking the photos of a large project takes a while: the status bar's progress bar
    // moves meanwhile, and no command may touch the project the worker reads.
    WindowsBlocked blocked({frame_.get()});
    InputSwallowed swallowed;
    RunOnWorkerThread([&] {
      result = exporters::WriteWebPage(project(), *webExportSettings_, &frame_->statusProgress());
    });
  } catch (const std::bad_alloc&) {
    result.error = "Writing the web page " + webExportSettings_->fileName + " ran out of memory.";
  } catch (const std::exception& error) {
    result.error =
        "Writing the web page " + webExportSettings_->fileName + " failed: " + error.what();
  }
  SetBusy(false);
  if (!result.ok) dialogs_->ShowError(frame_.get(), QString::fromStdString(result.error));
}

void ModrinApplication::OpenRecentFile(int index) {
  if (index < 0 || index >= recent_.entries().size()) return;
  const QString path = recent_.entries()[index];
  if (!ConfirmUnsavedChanges()) return;
  const model::FileResult result = document_.OpenRecentFile(path.toStdString());
  // A file that is gone leaves the list, as users of desktop programs expect.
  if (!result.ok() && !QFileInfo::exists(path)) recent_.Remove(path);
  ReportOpened(result);
  frame_->UpdateRecentFileMenu();
}

void ModrinApplication::LoadImages() {
  const QStringList chosen = dialogs_->AskImageFiles(frame_.get());
  std::vector<std::string> paths;
  for (const QString& path : chosen) paths.push_back(path.toStdString());
  document_.LoadImages(paths);
}

bool ModrinApplication::SaveAllModified() {
  SaveCameraDatabase();
  settings_.setValue("Views/Config", QString::fromStdString(frame_->LayoutString()));
  settings_.sync();
  return ConfirmUnsavedChanges();
}

bool ModrinApplication::ConfirmUnsavedChanges() {
  if (!document_.modified()) {
    // Nothing unsaved: a copy this session wrote is as good as the file.
    recovery_.ChangesDropped();
    return true;
  }
  switch (dialogs_->AskSaveChanges(frame_.get())) {
    case UserDialogs::Answer::Yes:
      return ReportSaved(document_.Save());
    case UserDialogs::Answer::No:
      recovery_.ChangesDropped();
      return true;
    case UserDialogs::Answer::Cancel:
      return false;
  }
  return false;
}

bool ModrinApplication::Report(const model::FileResult& result) {
  if (result.status == model::FileResult::Status::Failed) {
    dialogs_->ShowError(frame_.get(), QString::fromStdString(result.error));
  }
  return result.ok();
}

bool ModrinApplication::ReportOpened(const model::FileResult& result) {
  recovery_.OpenEnded(result.status == model::FileResult::Status::Done);
  return Report(result);
}

bool ModrinApplication::ReportSaved(const model::FileResult& result) {
  if (result.status == model::FileResult::Status::Done) recovery_.ProjectSaved();
  return Report(result);
}

void ModrinApplication::LoadCameraDatabase() {
  const std::string path =
      images::CameraDatabaseReadPath(QCoreApplication::applicationDirPath().toStdString());
  if (!path.empty()) project().cameraDatabase.Load(path);
}

void ModrinApplication::SaveCameraDatabase() {
  const std::string path = images::UserCameraDatabasePath();
  // A file that could not be read to its end is kept: writing would drop the entries behind
  // the block that stopped the reading.
  if (path.empty() || project().cameraDatabase.IsPartlyReadFile(path)) return;
  project().cameraDatabase.Save(path);
}

std::string ModrinApplication::AskProjectFileName(bool save) {
  return dialogs_->AskProjectFileName(frame_.get(), save).toStdString();
}

void ModrinApplication::ShowStatus(const std::string& text) {
  if (frame_) frame_->ShowStatusText(QString::fromStdString(text));
}

void ModrinApplication::ShowWarning(const std::string& text) {
  dialogs_->ShowWarning(frame_.get(), QString::fromStdString(text));
}

void ModrinApplication::AddToRecentFiles(const std::string& path) {
  recent_.Add(QString::fromStdString(path));
  if (frame_) frame_->UpdateRecentFileMenu();
}

void ModrinApplication::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void ModrinApplication::Redisplay() {
  if (frame_) frame_->Redisplay();
}

void ModrinApplication::InitializeViews3D() {
  if (frame_) frame_->Initialize3DViews();
}

void ModrinApplication::ProjectRestored(bool photosChanged) {
  if (frame_) frame_->ShowRestoredProject(photosChanged);
}

void ModrinApplication::HistoryChanged() {
  if (frame_) frame_->UpdateCommandStates();
}

void ModrinApplication::ModifiedChanged(bool modified) {
  (void)modified;
  if (frame_) frame_->UpdateCommandStates();
}

std::string ModrinApplication::ChooseRecoveryCopy(const std::string& projectPath) {
  return recovery_.OfferCopy(projectPath, *dialogs_, frame_.get());
}

}  // namespace modrin::app
