#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "app/recent_files.h"
#include "app/recovery_keeper.h"
#include "app/user_dialogs.h"
#include "export/web_export_settings.h"
#include "model/project_document.h"

namespace modrin::app {

class CMainFrame;

// The application object: the one project with its path and modified flag, the settings, the
// recent-file list and the main window. It carries out the file commands and answers the
// project document's requests with the window's dialogs, status bar and cursor.
class ModrinApplication : public model::DocumentHost {
 public:
  // `dialogs` asks the user; tests pass scripted answers.
  explicit ModrinApplication(
      std::unique_ptr<UserDialogs> dialogs = std::make_unique<UserDialogs>());
  ~ModrinApplication() override;

  // Creates and shows the main window, loads the camera database and opens `projectPath`
  // (empty: none). A project named here starts out modified.
  void Start(const QString& projectPath);

  model::ProjectDocument& document() { return document_; }
  model::Project& project() { return document_.project(); }
  CMainFrame& mainFrame() { return *frame_; }
  QSettings& settings() { return settings_; }
  RecentFileList& recentFiles() { return recent_; }
  UserDialogs& dialogs() { return *dialogs_; }
  RecoveryKeeper& recovery() { return recovery_; }

  // The file commands of the main window.
  void Open();
  void Save();
  void SaveAs();
  void OpenRecentFile(int index);
  void LoadImages();
  // Save 3D As: brings the meshes up to date with the project and writes them to a file whose
  // extension chooses the format; a failure is shown, naming the file and the reason.
  void Save3DAs();
  // Save to Web: the "Output to HTML" dialog, starting from the values of the last OK (the
  // initial ones before the first). OK keeps the values as webExportSettings(), brings the
  // meshes up to date and writes the web page with its model and viewer scripts off the GUI
  // thread, the progress in the status bar; a failure is shown, naming the file, and leaves no
  // file written. Cancel keeps nothing and writes nothing.
  void ShowWebExportDialog();
  // The values the last "Output to HTML" dialog closed by OK gave; none before the first.
  const std::optional<exporters::WebExportSettings>& webExportSettings() const {
    return webExportSettings_;
  }

  // What closing the main window does first: saves the camera database and the layout, then
  // asks whether to save unsaved changes. False when the program must stay open: the user
  // cancelled, or the save failed or its file dialog was cancelled.
  bool SaveAllModified();

  // DocumentHost
  std::string AskProjectFileName(bool save) override;
  void ShowStatus(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  void AddToRecentFiles(const std::string& path) override;
  void SetBusy(bool busy) override;
  void Redisplay() override;
  void InitializeViews3D() override;
  void ModifiedChanged(bool modified) override;
  void ProjectRestored(bool photosChanged) override;
  void HistoryChanged() override;
  std::string ChooseRecoveryCopy(const std::string& projectPath) override;

 private:
  // Asked before the current project is replaced or the program ends: true when the work is
  // saved or the user lets it go.
  bool ConfirmUnsavedChanges();
  // Shows why a file command failed; false when it failed or was cancelled.
  bool Report(const model::FileResult& result);
  // Report for an open or a save, which also tells the recovery keeper that it ended or was
  // done.
  bool ReportOpened(const model::FileResult& result);
  bool ReportSaved(const model::FileResult& result);
  void LoadCameraDatabase();
  void SaveCameraDatabase();

  std::unique_ptr<UserDialogs> dialogs_;
  QSettings settings_;
  RecentFileList recent_;
  model::ProjectDocument document_;
  // Copies the project while it has unsaved changes; declared after the document it reads.
  RecoveryKeeper recovery_;
  std::optional<exporters::WebExportSettings> webExportSettings_;
  // Destroyed before the project, whose photos and objects its views refer to.
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace modrin::app
