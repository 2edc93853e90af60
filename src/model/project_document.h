#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/edit_history.h"
#include "model/project.h"

namespace modrin::model {

// The user-interface services the project commands need. The GUI implements them with dialogs,
// the status bar and the recent-file menu; the command-line tool with plain output. Every
// service has a do-nothing default.
class DocumentHost {
 public:
  virtual ~DocumentHost() = default;

  // The project file dialog in its Open (save == false) or Save form; empty when cancelled.
  virtual std::string AskProjectFileName(bool save) {
    (void)save;
    return {};
  }
  // Text of the first status-bar pane; empty text clears it.
  virtual void ShowStatus(const std::string& text) { (void)text; }
  // A warning with an exclamation icon and an OK button.
  virtual void ShowWarning(const std::string& text) { (void)text; }
  virtual void AddToRecentFiles(const std::string& path) { (void)path; }
  // Wait cursor on (true) or back to the arrow (false).
  virtual void SetBusy(bool busy) { (void)busy; }
  // Give every photo view its photo and refill every object list.
  virtual void Redisplay() {}
  // Rebuild the textures and models of every 3D view.
  virtual void InitializeViews3D() {}
  // The modified flag changed; the Save button follows it.
  virtual void ModifiedChanged(bool modified) { (void)modified; }
  // Undo or redo gave the project another state: every view shows it anew. `photosChanged`
  // when photos came, went or got other files.
  virtual void ProjectRestored(bool photosChanged) {
    (void)photosChanged;
    Redisplay();
    InitializeViews3D();
  }
  // Steps were recorded, undone, redone or forgotten: Undo and Redo follow.
  virtual void HistoryChanged() {}
  // Before the project at `projectPath` (empty: the untitled project) is opened: the path of a
  // recovery copy of it to open in its place, as the user chose; empty to open the file.
  virtual std::string ChooseRecoveryCopy(const std::string& projectPath) {
    (void)projectPath;
    return {};
  }
};

// Outcome of reading or writing the project file. `error` names the file and the reason.
struct FileResult {
  enum class Status { Done, NothingToDo, Cancelled, Failed };
  Status status = Status::Done;
  std::string error;

  bool ok() const { return status == Status::Done || status == Status::NothingToDo; }
};

inline constexpr char kFocalNotDefinedWarning[] =
    "The focal is not defined in the images.\nGo to Tools/Photo parameters to set it.";

// The project with its file path and modified flag, and the commands that open, save and load
// it. Shared by the GUI and the command-line tool.
class ProjectDocument {
 public:
  explicit ProjectDocument(DocumentHost& host) : host_(host) {}

  Project& project() { return project_; }
  const Project& project() const { return project_; }
  const std::string& projectPath() const { return projectPath_; }
  void SetProjectPath(const std::string& path) { projectPath_ = path; }
  bool modified() const { return modified_; }
  void SetModified(bool modified);

  // The door every edit goes through: what changed in the project since the last step becomes
  // one undoable step named `name` ("Add Point") and sets the modified flag. False, nothing
  // recorded and the flag as it was, when nothing changed.
  bool RecordStep(const std::string& name);
  // Gives the state before the newest step back, or the state after the next undone one; the
  // modified flag is clear exactly when that is the state last saved. False when there is
  // nothing to undo or redo.
  bool Undo();
  bool Redo();
  const EditHistory& history() const { return history_; }
  // Keeps up to `steps` undo steps from now on, starting from the project as it is; 0, as a
  // document starts, keeps none: a one-shot command has nothing to undo and should not pay
  // for a copy of a large project.
  void KeepUndoSteps(std::size_t steps);
  // Forgets every step: the project as it is now is where undo stops, and, when
  // `matchesFile`, the state undo back to which makes the project unmodified.
  void ResetHistory(bool matchesFile = true);

  // Open: asks for a file (a cancelled dialog leaves no project path) and opens it.
  FileResult Open();
  // Opens the file at `path`, made absolute, as OpenProjectFile does. When it fails, the
  // project path is the one before the attempt, as are the project and the modified flag.
  FileResult OpenPath(const std::string& path);
  // Reads the file named by the project path, then loads the photos' images. A file that
  // cannot be opened, cannot be read or is refused leaves the project and the modified flag
  // unchanged; the error names the file and the reason.
  FileResult OpenProjectFile();
  // Opens as OpenProjectFile does, unless the host chooses a recovery copy of the project
  // path's file (or of the untitled project, when there is no path): then the copy, marked
  // modified, keeping the project path. A copy that cannot be read is shown as a warning and
  // kept, and the file opens as usual.
  FileResult OpenRecoveryOrFile();
  // Opens a file of the recent-file list.
  FileResult OpenRecentFile(const std::string& path);
  // Writes the project when it has unsaved changes, asking for a name when it has no path.
  // The file is replaced only once the new text is completely written; on failure the old file
  // stays and the modified flag stays set.
  FileResult Save();
  // Asks for a file and writes the project there, with or without unsaved changes; a
  // cancelled dialog leaves no project path.
  FileResult SaveAs();
  // Adds a photo per non-empty path, loads the missing images and marks the project modified.
  void LoadImages(const std::vector<std::string>& paths);
  // Decodes every photo that has no image yet, retrying in the project file's folder, then
  // warns when the first photo has no focal length and refreshes the views. Several photos are
  // decoded at once; results and status texts come in photo order.
  void LoadMissingImages();

 private:
  // Writes the file at the project path; Cancelled when there is none.
  FileResult SaveToProjectPath();
  FileResult WriteProjectFile(const std::string& path);
  // Undo or Redo; `forward` for Redo.
  bool Restore(bool forward);
  // Gives pictures back to the photos that need them: from those undo took away, else decoded.
  void MendPictures(RestoredPhotos& restored);
  DocumentHost& host_;
  Project project_;
  std::string projectPath_;
  bool modified_ = false;
  EditHistory history_;
  bool keepHistory_ = false;
  // Pictures of photos undone away, by file, while a redo may want them back. Moved, never
  // copied.
  std::multimap<std::string, std::unique_ptr<Photo>> parkedPictures_;
};

// `path` from the root, as a file dialog gives it. Only "." steps are dropped; ".." stays,
// since through a symbolic link it need not mean the folder above. `path` itself when the
// working folder cannot be read.
std::string AbsolutePath(const std::string& path);
// The text after the last "/" or "\" of a path (the whole path when it has neither).
std::string FileNamePart(const std::string& path);
// Where a photo is looked for when its own path fails: the project file's folder (with the
// project path's own separator) followed by the photo's file name.
std::string PathBesideProject(const std::string& projectPath, const std::string& photoPath);

}  // namespace modrin::model
