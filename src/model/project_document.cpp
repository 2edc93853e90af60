#include "model/project_document.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <new>
#include <thread>

#include "images/file_io.h"
#include "model/project_file.h"
#include "model/recovery_store.h"

namespace modrin::model {

std::string FileNamePart(const std::string& path) {
  auto cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string PathBesideProject(const std::string& projectPath, const std::string& photoPath) {
  auto cut = projectPath.find_last_of("/\\");
  const std::string folder =
      cut == std::string::npos ? std::string() : projectPath.substr(0, cut + 1);
  return folder + FileNamePart(photoPath);
}

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return path;
  std::filesystem::path result;
  for (const auto& part : absolute) {
    if (part != ".") result /= part;
  }
  return result.string();
}

void ProjectDocument::SetModified(bool modified) {
  modified_ = modified;
  host_.ModifiedChanged(modified);
}

void ProjectDocument::KeepUndoSteps(std::size_t steps) {
  keepHistory_ = steps > 0;
  if (keepHistory_) history_.SetStepLimit(steps);
  ResetHistory();
}

bool ProjectDocument::RecordStep(const std::string& name) {
  if (!keepHistory_) {
    SetModified(true);
    return true;
  }
  if (!history_.Record(project_, name)) return false;
  // A new step drops those that could be redone, and with them the pictures kept for them.
  parkedPictures_.clear();
  SetModified(true);
  host_.HistoryChanged();
  return true;
}

bool ProjectDocument::Undo() { return Restore(false); }
bool ProjectDocument::Redo() { return Restore(true); }

bool ProjectDocument::Restore(bool forward) {
  RestoredPhotos restored;
  const bool done = forward ? history_.Redo(project_, restored) : history_.Undo(project_, restored);
  if (!done) return false;
  const bool photosChanged = !restored.removed.empty() || !restored.needPictures.empty();
  MendPictures(restored);
  SetModified(!history_.AtSaved());
  host_.ProjectRestored(photosChanged);
  host_.HistoryChanged();
  return true;
}

void ProjectDocument::MendPictures(RestoredPhotos& restored) {
  for (auto& photo : restored.removed) {
    if (photo->HasImage()) parkedPictures_.emplace(photo->path, std::move(photo));
  }
  for (auto& [path, photo] : restored.replaced) parkedPictures_.emplace(path, std::move(photo));
  bool missing = false;
  for (std::size_t index : restored.needPictures) {
    Photo& photo = *project_.photos[index];
    auto parked = parkedPictures_.find(photo.path);
    if (parked == parkedPictures_.end()) {
      missing = true;
      continue;
    }
    photo.levels = std::move(parked->second->levels);
    photo.loadError.clear();
    parkedPictures_.erase(parked);
  }
  if (!missing) return;
  LoadMissingImages();
  // What decoding set (a camera model, a path found beside the project) belongs to the step
  // that brought the photo back.
  history_.Amend(project_);
}

void ProjectDocument::ResetHistory(bool matchesFile) {
  if (keepHistory_) {
    history_.Reset(project_);
  } else {
    history_.Reset(Project());
  }
  if (!matchesFile) history_.ForgetSaved();
  parkedPictures_.clear();
  host_.HistoryChanged();
}

FileResult ProjectDocument::Open() {
  const std::string chosen = host_.AskProjectFileName(false);
  // A cancelled dialog leaves no project path; a later Save asks for a name.
  if (chosen.empty()) {
    projectPath_.clear();
    return {FileResult::Status::NothingToDo, {}};
  }
  return OpenPath(chosen);
}

FileResult ProjectDocument::OpenRecentFile(const std::string& path) {
  FileResult result = OpenPath(path);
  if (result.ok()) host_.AddToRecentFiles(path);
  return result;
}

FileResult ProjectDocument::OpenPath(const std::string& path) {
  const std::string previous = projectPath_;
  // Photos found beside the project get paths from the root too, so the model files' texture
  // paths and file:// URLs hold from any folder, and Save does not store paths relative to
  // the folder the program was started in.
  projectPath_ = AbsolutePath(path);
  FileResult result = OpenRecoveryOrFile();
  // A file that cannot be read must not become the target of the next Save, which would write
  // the project still loaded over it.
  if (!result.ok()) projectPath_ = previous;
  return result;
}

FileResult ProjectDocument::OpenProjectFile() {
  if (projectPath_.empty()) return {FileResult::Status::NothingToDo, {}};
  std::string error;
  if (!ReadProjectFile(project_, projectPath_, error)) {
    return {FileResult::Status::Failed, error};
  }
  host_.AddToRecentFiles(projectPath_);
  LoadMissingImages();
  ResetHistory();
  return {};
}

FileResult ProjectDocument::OpenRecoveryOrFile() {
  const std::string copy = host_.ChooseRecoveryCopy(projectPath_);
  if (!copy.empty()) {
    FileResult recovered = OpenRecoveryCopy(*this, projectPath_, copy);
    if (recovered.ok()) {
      // The project is the file's, recovered: it joins the recent files as the file would.
      if (!projectPath_.empty()) host_.AddToRecentFiles(projectPath_);
      return recovered;
    }
    host_.ShowWarning(recovered.error);
  }
  return OpenProjectFile();
}

FileResult ProjectDocument::Save() {
  if (!modified_) return {FileResult::Status::NothingToDo, {}};
  if (projectPath_.empty()) projectPath_ = host_.AskProjectFileName(true);
  return SaveToProjectPath();
}

FileResult ProjectDocument::SaveAs() {
  // A file the user chose is written whether or not there are unsaved changes: it is a copy
  // the user asked for.
  projectPath_ = host_.AskProjectFileName(true);
  return SaveToProjectPath();
}

FileResult ProjectDocument::SaveToProjectPath() {
  if (projectPath_.empty()) return {FileResult::Status::Cancelled, {}};
  FileResult result = WriteProjectFile(projectPath_);
  if (!result.ok()) return result;
  host_.AddToRecentFiles(projectPath_);
  // The file holds the project as it is now, including what the program changed by itself
  // since the last step. Without a history there is nothing to amend, and comparing with an
  // empty one would copy the whole project.
  if (keepHistory_) {
    history_.Amend(project_);
    history_.MarkSaved();
  }
  SetModified(false);
  return result;
}

FileResult ProjectDocument::WriteProjectFile(const std::string& path) {
  std::string error;
  if (!images::WriteFileAtomically(path, WriteProjectText(project_), error)) {
    return {FileResult::Status::Failed, "Cannot save \"" + path + "\": " + error};
  }
  return {};
}

void ProjectDocument::LoadImages(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (!path.empty()) project_.AddPhoto().SetPath(path);
  }
  LoadMissingImages();
  // Added photos count as a change even when none could be decoded.
  if (!RecordStep("Load Images")) SetModified(true);
}

namespace {

// What loading one photo produced: the decoded file, and the path it came from when the first
// attempt failed and the file was looked for in the project's folder.
struct PhotoLoad {
  LoadedImage loaded;
  std::string retryPath;  // empty when there was no retry
};

PhotoLoad LoadOnePhoto(const std::string& path, const std::string& projectPath) {
  PhotoLoad result;
  // A path without an extension is not loaded at all; the retry still runs.
  if (!LowerExtension(path).empty()) result.loaded = DecodePhotoFile(path);
  if (!result.loaded.image && !projectPath.empty()) {
    result.retryPath = PathBesideProject(projectPath, path);
    if (!LowerExtension(result.retryPath).empty()) {
      result.loaded = DecodePhotoFile(result.retryPath);
    }
  }
  return result;
}

}  // namespace

void ProjectDocument::LoadMissingImages() {
  host_.SetBusy(true);

  std::vector<Photo*> missing;
  for (auto& photo : project_.photos) {
    if (!photo->HasImage()) missing.push_back(photo.get());
  }

  // Decoding is independent per photo and runs on every core; the results are applied here in
  // photo order, so the camera database and the status texts see the same sequence as a
  // one-by-one load.
  std::vector<std::promise<PhotoLoad>> promises(missing.size());
  std::vector<std::future<PhotoLoad>> futures;
  for (auto& promise : promises) futures.push_back(promise.get_future());
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (std::size_t i = next++; i < missing.size(); i = next++) {
      PhotoLoad load;
      try {
        load = LoadOnePhoto(missing[i]->path, projectPath_);
      } catch (const std::bad_alloc&) {
        load.loaded = LoadedImage{};
        load.loaded.error = std::string(Photo::kNotEnoughMemory) + " to decode the picture";
      } catch (const std::exception& e) {
        load.loaded = LoadedImage{};
        load.loaded.error = e.what();
      }
      promises[i].set_value(std::move(load));
    }
  };
  const std::size_t threadCount =
      std::min<std::size_t>(missing.size(), std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::jthread> workers;
  try {
    for (std::size_t t = 0; t < threadCount; ++t) workers.emplace_back(worker);
  } catch (...) {
    // Threads that cannot be started leave their photos to those that did.
  }
  // Without any thread, this one decodes them all before applying.
  if (workers.empty()) worker();

  for (std::size_t i = 0; i < missing.size(); ++i) {
    Photo& photo = *missing[i];
    host_.ShowStatus("Loading image " + FileNamePart(photo.path));
    PhotoLoad load = futures[i].get();
    if (!load.retryPath.empty()) photo.SetPath(load.retryPath);
    ApplyLoadedImage(photo, std::move(load.loaded), project_.cameraDatabase);
  }
  workers.clear();

  if (!project_.photos.empty() && project_.photos.front()->camera.focal == 0.0) {
    host_.ShowWarning(kFocalNotDefinedWarning);
  }
  host_.Redisplay();
  host_.ShowStatus("");
  host_.InitializeViews3D();
  host_.SetBusy(false);
}

}  // namespace modrin::model
