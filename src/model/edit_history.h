#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/geometry/vec.h"
#include "images/camera_database.h"
#include "model/position_graph.h"

namespace modrin::model {

class Photo;
class Project;

// What of a photo an undo step gives back: the file and the camera. The decoded picture is the
// file's and is never copied; the camera model is kept by name, since a database given back
// holds new entries.
struct PhotoState {
  std::string path;
  bool calibrated = false;
  bool pending = false;
  std::optional<std::string> cameraModel;  // none: no camera model linked
  double focal = 0;
  engine::Vec3 translation;
  engine::Vec3 orientation;
};

// What of an object an undo step gives back. Its meshes are made again from the positions.
struct ObjectState {
  std::string name;
  bool current = false;
  std::set<std::int32_t> positionIds;
};

// One entry of a step: the value under `key` before and after it (none: there was none).
template <typename Key, typename Value>
struct Change {
  Key key;
  std::optional<Value> before;
  std::optional<Value> after;
  // Positions only: the marks stayed as they were and are left out of both values, so a step
  // that moves every point in space (a calibration) holds only coordinates.
  bool marksKept = false;
};

// One undoable edit: only what it changed, before and after.
struct EditStep {
  std::string name;
  std::vector<Change<std::int32_t, Position>> positions;
  std::vector<Change<std::int32_t, Edge>> edges;
  std::int32_t lastPositionId[2] = {0, 0};  // before, after
  std::int32_t lastEdgeId[2] = {0, 0};
  std::size_t photoCount[2] = {0, 0};
  std::vector<Change<std::size_t, PhotoState>> photos;
  std::size_t objectCount[2] = {0, 0};
  std::vector<Change<std::size_t, ObjectState>> objects;
  std::optional<images::CameraDatabase> database[2];
  std::size_t bytes = 0;  // what the step holds, roughly
  // Every state shown gets a number of its own, so a state saved and then undone past is never
  // taken for the saved one again.
  std::uint64_t serial[2] = {0, 0};
};

// What giving a state back did to the photos, for the document to mend their pictures.
struct RestoredPhotos {
  // Photos taken off the end, with their pictures.
  std::vector<std::unique_ptr<Photo>> removed;
  // Photos added, or given another file: they need their pictures.
  std::vector<std::size_t> needPictures;
  // Pictures of photos given another file, by the file they showed.
  std::vector<std::pair<std::string, std::unique_ptr<Photo>>> replaced;
};

// The undo and redo history of one project, kept as the differences between the states it was
// shown. Record compares the project with the last state it knows, so an edit needs no
// bookkeeping of its own: whatever the project now holds differently becomes the step. Undo
// and Redo give back exactly what the project file holds, the id counters, and the camera
// database; they take no pictures and leave every mesh to be rebuilt.
class EditHistory {
 public:
  static constexpr std::size_t kDefaultStepLimit = 200;
  // Beyond this the oldest steps go too, whatever their number: 200 calibrations of a large
  // project would otherwise hold hundreds of copies of its coordinates. The newest step stays.
  static constexpr std::size_t kByteLimit = std::size_t{256} << 20;

  // Keeps at most `stepLimit` steps (at least one); the oldest go first.
  explicit EditHistory(std::size_t stepLimit = kDefaultStepLimit);
  ~EditHistory();

  // Forgets every step: the project as it is now is where undo stops, and it counts as saved.
  void Reset(const Project& project);
  // Makes what changed since the last known state one step named `name`, dropping the steps
  // that could be redone. False, nothing recorded, when nothing changed.
  bool Record(const Project& project, const std::string& name);
  // Gives what changed since the last known state to the newest step done (or to where undo
  // stops), without a step of its own: changes the program makes by itself, such as computing
  // coordinates for the 3D views, belong to the edit that caused them.
  void Amend(const Project& project);
  // Takes the newest step back (Amend first); false when there is none.
  bool Undo(Project& project, RestoredPhotos& restored);
  // Does the next undone step again (Amend first); false when there is none.
  bool Redo(Project& project, RestoredPhotos& restored);

  bool CanUndo() const { return done_ > 0; }
  bool CanRedo() const { return done_ < steps_.size(); }
  // The name of the step Undo or Redo would take; empty when there is none.
  std::string UndoName() const;
  std::string RedoName() const;
  std::size_t undoCount() const { return done_; }
  std::size_t redoCount() const { return steps_.size() - done_; }

  // The project as it now is is the one in its file.
  void MarkSaved() { savedState_ = stateSerial_; }
  // No state of the history is the one in the file (a project recovered from a copy).
  void ForgetSaved() { savedState_ = 0; }
  // The last state shown is the one last saved (or opened).
  bool AtSaved() const { return savedState_ == stateSerial_; }
  // What the steps hold, roughly, in bytes.
  std::size_t bytes() const { return bytes_; }
  std::size_t stepLimit() const { return stepLimit_; }
  void SetStepLimit(std::size_t stepLimit);

 private:
  struct State;
  // Differences from the known state to the project; their "before" values are the known ones.
  EditStep Difference(const Project& project) const;
  void Apply(const EditStep& step, bool forward, Project& project, RestoredPhotos& restored);
  void ApplyToState(const EditStep& step, bool forward);
  void DropOldest();

  std::unique_ptr<State> state_;
  std::vector<EditStep> steps_;  // oldest first
  std::size_t done_ = 0;         // steps_[0, done_) are done
  std::size_t stepLimit_;
  std::size_t bytes_ = 0;
  std::uint64_t stateSerial_ = 0;
  std::uint64_t nextSerial_ = 1;
  std::uint64_t savedState_ = 0;
};

}  // namespace modrin::model
