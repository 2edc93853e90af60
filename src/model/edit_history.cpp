#include "model/edit_history.h"

#include <algorithm>
#include <bit>
#include <type_traits>
#include <utility>

#include "model/object.h"
#include "model/photo.h"
#include "model/project.h"

namespace modrin::model {

struct EditHistory::State {
  std::vector<PhotoState> photos;
  std::map<std::int32_t, Position> positions;
  std::map<std::int32_t, Edge> edges;
  std::int32_t lastPositionId = 0;
  std::int32_t lastEdgeId = 0;
  std::vector<ObjectState> objects;
  images::CameraDatabase database;
};

namespace {

// Values are compared bit for bit: a coordinate that is not a number still equals itself, and
// -0 is told from 0, so what is given back is what was there.
bool SameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool SameBits(const engine::Vec3& a, const engine::Vec3& b) {
  return SameBits(a.x, b.x) && SameBits(a.y, b.y) && SameBits(a.z, b.z);
}

bool Same(const Position& a, const Position& b) {
  return a.isReal == b.isReal && a.isComputed == b.isComputed &&
         SameBits(a.coords[0], b.coords[0]) && SameBits(a.coords[1], b.coords[1]) &&
         SameBits(a.coords[2], b.coords[2]) && a.imagePoints == b.imagePoints;
}

bool Same(const Edge& a, const Edge& b) { return a.first == b.first && a.second == b.second; }

bool Same(const PhotoState& a, const PhotoState& b) {
  return a.path == b.path && a.calibrated == b.calibrated && a.pending == b.pending &&
         a.cameraModel == b.cameraModel && SameBits(a.focal, b.focal) &&
         SameBits(a.translation, b.translation) && SameBits(a.orientation, b.orientation);
}

bool Same(const ObjectState& a, const ObjectState& b) {
  return a.current == b.current && a.name == b.name && a.positionIds == b.positionIds;
}

bool Same(const images::CameraDatabase& a, const images::CameraDatabase& b) {
  return std::equal(a.entries().begin(), a.entries().end(), b.entries().begin(), b.entries().end(),
                    [](const auto& x, const auto& y) {
                      return x.first == y.first && x.second.name == y.second.name &&
                             SameBits(x.second.cellWidth, y.second.cellWidth) &&
                             SameBits(x.second.cellHeight, y.second.cellHeight);
                    });
}

// Rough heap and object sizes, for the history's bound on what it holds.
std::size_t BytesOf(const Position& position) {
  return sizeof(Position) + 48 + position.imagePoints.size() * 48;
}
std::size_t BytesOf(const Edge&) { return sizeof(Edge) + 48; }
std::size_t BytesOf(const PhotoState& photo) { return sizeof(PhotoState) + photo.path.size(); }
std::size_t BytesOf(const ObjectState& object) {
  return sizeof(ObjectState) + object.name.size() + object.positionIds.size() * 40;
}
std::size_t BytesOf(const images::CameraDatabase& database) {
  return database.size() * (sizeof(images::CameraEntry) + 64);
}

template <typename Key, typename Value>
std::size_t BytesOf(const std::vector<Change<Key, Value>>& changes) {
  std::size_t bytes = changes.size() * sizeof(Change<Key, Value>);
  for (const auto& change : changes) {
    if (change.before) bytes += BytesOf(*change.before);
    if (change.after) bytes += BytesOf(*change.after);
  }
  return bytes;
}

PhotoState StateOf(const Photo& photo) {
  PhotoState state;
  state.path = photo.path;
  state.calibrated = photo.camera.calibrated;
  state.pending = photo.camera.pending;
  if (photo.camera.cameraEntry != nullptr) state.cameraModel = photo.camera.cameraEntry->name;
  state.focal = photo.camera.focal;
  state.translation = photo.camera.translation;
  state.orientation = photo.camera.orientation;
  return state;
}

ObjectState StateOf(const Object& object) {
  return {object.name, object.current, object.positionIds};
}

// The entries of two maps keyed alike that differ, in key order, by one walk over both.
template <typename Key, typename Value>
void DiffMaps(const std::map<Key, Value>& known, const std::map<Key, Value>& now,
              std::vector<Change<Key, Value>>& changes) {
  auto k = known.begin();
  auto n = now.begin();
  while (k != known.end() || n != now.end()) {
    if (n == now.end() || (k != known.end() && k->first < n->first)) {
      changes.push_back({k->first, k->second, std::nullopt});
      ++k;
    } else if (k == known.end() || n->first < k->first) {
      changes.push_back({n->first, std::nullopt, n->second});
      ++n;
    } else {
      if (!Same(k->second, n->second)) changes.push_back({k->first, k->second, n->second});
      ++k;
      ++n;
    }
  }
}

// The entries of two lists that differ by place, the states of `now` made by `stateOf`.
template <typename Value, typename Item, typename StateOfItem>
void DiffLists(const std::vector<Value>& known, const std::vector<std::unique_ptr<Item>>& now,
               StateOfItem stateOf, std::vector<Change<std::size_t, Value>>& changes) {
  for (std::size_t i = 0; i < std::max(known.size(), now.size()); ++i) {
    std::optional<Value> before;
    std::optional<Value> after;
    if (i < known.size()) before = known[i];
    if (i < now.size()) after = stateOf(*now[i]);
    if (before && after && Same(*before, *after)) continue;
    changes.push_back({i, std::move(before), std::move(after)});
  }
}

template <typename Key, typename Value>
const std::optional<Value>& Side(const Change<Key, Value>& change, bool forward) {
  return forward ? change.after : change.before;
}

// Leaves the marks out of the positions whose marks a change keeps.
void DropKeptMarks(std::vector<Change<std::int32_t, Position>>& changes) {
  for (auto& change : changes) {
    if (!change.before || !change.after) continue;
    if (change.before->imagePoints != change.after->imagePoints) continue;
    change.before->imagePoints.clear();
    change.after->imagePoints.clear();
    change.marksKept = true;
  }
}

template <typename Key, typename Value>
void ApplyToMap(const std::vector<Change<Key, Value>>& changes, bool forward,
                std::map<Key, Value>& map) {
  for (const auto& change : changes) {
    const std::optional<Value>& value = Side(change, forward);
    if constexpr (std::is_same_v<Value, Position>) {
      if (change.marksKept) {
        Position& position = map.at(change.key);
        position.coords = value->coords;
        position.isReal = value->isReal;
        position.isComputed = value->isComputed;
        continue;
      }
    }
    if (value) {
      map.insert_or_assign(change.key, *value);
    } else {
      map.erase(change.key);
    }
  }
}

template <typename Value>
void ApplyToList(const std::vector<Change<std::size_t, Value>>& changes, bool forward,
                 std::size_t count, std::vector<Value>& list) {
  list.resize(count);
  for (const auto& change : changes) {
    const std::optional<Value>& value = Side(change, forward);
    if (value && change.key < count) list[change.key] = *value;
  }
}

void SetPhoto(Photo& photo, const PhotoState& state, images::CameraDatabase& database,
              RestoredPhotos& restored, std::size_t index) {
  if (photo.path != state.path) {
    // The picture belongs to the old file: it is handed back with that file's name, and the
    // photo waits for the picture of its new one.
    if (photo.HasImage()) {
      auto old = std::make_unique<Photo>();
      old->path = photo.path;
      old->levels = std::move(photo.levels);
      photo.levels.clear();
      restored.replaced.emplace_back(photo.path, std::move(old));
    }
    restored.needPictures.push_back(index);
  }
  photo.path = state.path;
  photo.camera.calibrated = state.calibrated;
  photo.camera.pending = state.pending;
  photo.camera.cameraEntry = state.cameraModel ? database.Find(*state.cameraModel) : nullptr;
  photo.camera.focal = state.focal;
  photo.camera.translation = state.translation;
  photo.camera.orientation = state.orientation;
}

}  // namespace

EditHistory::EditHistory(std::size_t stepLimit)
    : state_(std::make_unique<State>()), stepLimit_(std::max<std::size_t>(stepLimit, 1)) {}

EditHistory::~EditHistory() = default;

void EditHistory::Reset(const Project& project) {
  steps_.clear();
  done_ = 0;
  bytes_ = 0;
  state_ = std::make_unique<State>();
  const EditStep all = Difference(project);
  ApplyToState(all, true);
  stateSerial_ = savedState_ = nextSerial_++;
}

EditStep EditHistory::Difference(const Project& project) const {
  EditStep step;
  DiffMaps(state_->positions, project.graph.positions, step.positions);
  DropKeptMarks(step.positions);
  DiffMaps(state_->edges, project.graph.edges, step.edges);
  step.lastPositionId[0] = state_->lastPositionId;
  step.lastPositionId[1] = project.graph.lastPositionId;
  step.lastEdgeId[0] = state_->lastEdgeId;
  step.lastEdgeId[1] = project.graph.lastEdgeId;
  step.photoCount[0] = state_->photos.size();
  step.photoCount[1] = project.photos.size();
  DiffLists(
      state_->photos, project.photos, [](const Photo& p) { return StateOf(p); }, step.photos);
  step.objectCount[0] = state_->objects.size();
  step.objectCount[1] = project.objects.size();
  DiffLists(
      state_->objects, project.objects, [](const Object& o) { return StateOf(o); }, step.objects);
  if (!Same(state_->database, project.cameraDatabase)) {
    step.database[0] = state_->database;
    step.database[1] = project.cameraDatabase;
  }
  step.bytes = sizeof(EditStep) + BytesOf(step.positions) + BytesOf(step.edges) +
               BytesOf(step.photos) + BytesOf(step.objects);
  for (const auto& database : step.database) {
    if (database) step.bytes += BytesOf(*database);
  }
  return step;
}

namespace {

bool Empty(const EditStep& step) {
  return step.positions.empty() && step.edges.empty() && step.photos.empty() &&
         step.objects.empty() && !step.database[0] &&
         step.lastPositionId[0] == step.lastPositionId[1] &&
         step.lastEdgeId[0] == step.lastEdgeId[1] && step.photoCount[0] == step.photoCount[1] &&
         step.objectCount[0] == step.objectCount[1];
}

// `later` folded into `earlier`: the keys `later` changes get its "after"; a key changed by
// both keeps the "before" of `earlier`.
template <typename Key, typename Value>
void FoldChanges(std::vector<Change<Key, Value>>& earlier,
                 const std::vector<Change<Key, Value>>& later) {
  std::map<Key, std::size_t> at;
  for (std::size_t i = 0; i < earlier.size(); ++i) at.emplace(earlier[i].key, i);
  for (const auto& change : later) {
    auto found = at.find(change.key);
    if (found == at.end()) {
      earlier.push_back(change);
      continue;
    }
    Change<Key, Value>& into = earlier[found->second];
    if constexpr (std::is_same_v<Value, Position>) {
      // A value that leaves the marks out gets them from the other step's value of the same
      // state, which holds them.
      if (into.marksKept && !change.marksKept) {
        into.before->imagePoints = change.before->imagePoints;
        into.marksKept = false;
      } else if (!into.marksKept && change.marksKept) {
        std::map<std::int32_t, ImagePoint> marks = std::move(into.after->imagePoints);
        into.after = change.after;
        into.after->imagePoints = std::move(marks);
        continue;
      }
    }
    into.after = change.after;
  }
  std::sort(earlier.begin(), earlier.end(),
            [](const auto& a, const auto& b) { return a.key < b.key; });
}

void Fold(EditStep& earlier, const EditStep& later) {
  FoldChanges(earlier.positions, later.positions);
  FoldChanges(earlier.edges, later.edges);
  FoldChanges(earlier.photos, later.photos);
  FoldChanges(earlier.objects, later.objects);
  earlier.lastPositionId[1] = later.lastPositionId[1];
  earlier.lastEdgeId[1] = later.lastEdgeId[1];
  earlier.photoCount[1] = later.photoCount[1];
  earlier.objectCount[1] = later.objectCount[1];
  if (later.database[1]) {
    if (!earlier.database[0]) earlier.database[0] = later.database[0];
    earlier.database[1] = later.database[1];
  }
  earlier.bytes += later.bytes;
}

}  // namespace

bool EditHistory::Record(const Project& project, const std::string& name) {
  EditStep step = Difference(project);
  if (Empty(step)) return false;
  step.name = name;
  ApplyToState(step, true);
  for (std::size_t i = done_; i < steps_.size(); ++i) bytes_ -= steps_[i].bytes;
  steps_.erase(steps_.begin() + static_cast<std::ptrdiff_t>(done_), steps_.end());
  step.serial[0] = stateSerial_;
  step.serial[1] = stateSerial_ = nextSerial_++;
  bytes_ += step.bytes;
  steps_.push_back(std::move(step));
  done_ = steps_.size();
  while (steps_.size() > stepLimit_ || (bytes_ > kByteLimit && steps_.size() > 1)) DropOldest();
  return true;
}

void EditHistory::Amend(const Project& project) {
  EditStep step = Difference(project);
  if (Empty(step)) return;
  ApplyToState(step, true);
  if (done_ == 0) return;
  bytes_ += step.bytes;
  Fold(steps_[done_ - 1], step);
}

bool EditHistory::Undo(Project& project, RestoredPhotos& restored) {
  Amend(project);
  if (!CanUndo()) return false;
  const EditStep& step = steps_[--done_];
  Apply(step, false, project, restored);
  ApplyToState(step, false);
  stateSerial_ = step.serial[0];
  return true;
}

bool EditHistory::Redo(Project& project, RestoredPhotos& restored) {
  Amend(project);
  if (!CanRedo()) return false;
  const EditStep& step = steps_[done_++];
  Apply(step, true, project, restored);
  ApplyToState(step, true);
  stateSerial_ = step.serial[1];
  return true;
}

std::string EditHistory::UndoName() const { return CanUndo() ? steps_[done_ - 1].name : ""; }
std::string EditHistory::RedoName() const { return CanRedo() ? steps_[done_].name : ""; }

void EditHistory::SetStepLimit(std::size_t stepLimit) {
  stepLimit_ = std::max<std::size_t>(stepLimit, 1);
  while (steps_.size() > stepLimit_) DropOldest();
}

void EditHistory::DropOldest() {
  // Steps to redo are dropped from the far end instead when no step done is left to drop.
  if (done_ == 0) {
    bytes_ -= steps_.back().bytes;
    steps_.pop_back();
    return;
  }
  bytes_ -= steps_.front().bytes;
  steps_.erase(steps_.begin());
  --done_;
}

void EditHistory::ApplyToState(const EditStep& step, bool forward) {
  const int side = forward ? 1 : 0;
  ApplyToMap(step.positions, forward, state_->positions);
  ApplyToMap(step.edges, forward, state_->edges);
  state_->lastPositionId = step.lastPositionId[side];
  state_->lastEdgeId = step.lastEdgeId[side];
  ApplyToList(step.photos, forward, step.photoCount[side], state_->photos);
  ApplyToList(step.objects, forward, step.objectCount[side], state_->objects);
  if (step.database[side]) state_->database = *step.database[side];
}

void EditHistory::Apply(const EditStep& step, bool forward, Project& project,
                        RestoredPhotos& restored) {
  const int side = forward ? 1 : 0;
  PositionGraph& graph = project.graph;
  ApplyToMap(step.positions, forward, graph.positions);
  ApplyToMap(step.edges, forward, graph.edges);
  graph.lastPositionId = step.lastPositionId[side];
  graph.lastEdgeId = step.lastEdgeId[side];

  if (step.database[side]) {
    // The photos' entries die with the database they point into: each is found again by name
    // in the one given back.
    std::vector<std::optional<std::string>> models;
    for (const auto& photo : project.photos) {
      const images::CameraEntry* entry = photo->camera.cameraEntry;
      models.push_back(entry ? std::optional<std::string>(entry->name) : std::nullopt);
    }
    project.cameraDatabase = *step.database[side];
    for (std::size_t i = 0; i < project.photos.size(); ++i) {
      project.photos[i]->camera.cameraEntry =
          models[i] ? project.cameraDatabase.Find(*models[i]) : nullptr;
    }
  }

  const std::size_t photoCount = step.photoCount[side];
  while (project.photos.size() > photoCount) {
    restored.removed.push_back(std::move(project.photos.back()));
    project.photos.pop_back();
  }
  while (project.photos.size() < photoCount) {
    restored.needPictures.push_back(project.photos.size());
    project.photos.push_back(std::make_unique<Photo>());
  }
  for (const auto& change : step.photos) {
    const std::optional<PhotoState>& value = Side(change, forward);
    if (value && change.key < photoCount) {
      SetPhoto(*project.photos[change.key], *value, project.cameraDatabase, restored, change.key);
    }
  }

  const std::size_t objectCount = step.objectCount[side];
  project.objects.resize(std::min(project.objects.size(), objectCount));
  while (project.objects.size() < objectCount) {
    project.objects.push_back(std::make_unique<Object>());
    project.objects.back()->graph = &graph;
  }
  for (const auto& change : step.objects) {
    const std::optional<ObjectState>& value = Side(change, forward);
    if (!value || change.key >= objectCount) continue;
    Object& object = *project.objects[change.key];
    object.name = value->name;
    object.current = value->current;
    object.positionIds = value->positionIds;
  }
  // One mesh per photo, as every object has; they are made again by the next model update.
  for (auto& object : project.objects) {
    object->photoMeshes.resize(std::min(object->photoMeshes.size(), photoCount));
    while (object->photoMeshes.size() < photoCount) {
      object->photoMeshes.push_back(std::make_unique<ObjectPhotoMesh>());
    }
  }
  std::vector<std::size_t>& need = restored.needPictures;
  std::sort(need.begin(), need.end());
  need.erase(std::unique(need.begin(), need.end()), need.end());
}

}  // namespace modrin::model
