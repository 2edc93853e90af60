#include "model/project.h"

#include <algorithm>
#include <optional>

namespace modrin::model {

Project::~Project() { Clear(); }

Photo& Project::AddPhoto() {
  photos.push_back(std::make_unique<Photo>());
  for (auto& object : objects) object->photoMeshes.push_back(std::make_unique<ObjectPhotoMesh>());
  return *photos.back();
}

bool IsStorableObjectName(std::string_view name) { return name.find('"') == name.npos; }

std::string StorableObjectName(std::string name) {
  std::replace(name.begin(), name.end(), '"', '\'');
  return name;
}

bool Project::RenameObject(Object& object, const std::string& name) {
  if (!IsStorableObjectName(name)) return false;
  object.name = name;
  return true;
}

Object& Project::AddObject(const std::string& requested) {
  const std::string name = StorableObjectName(requested);
  auto object = std::make_unique<Object>();
  object->graph = &graph;
  for (std::size_t i = 0; i < photos.size(); ++i) {
    object->photoMeshes.push_back(std::make_unique<ObjectPhotoMesh>());
  }
  auto nameTaken = [this](const std::string& candidate) {
    return std::any_of(objects.begin(), objects.end(),
                       [&](const auto& other) { return other->name == candidate; });
  };
  // The candidate is always the requested name plus the counter, never the last candidate plus
  // it: "Object", "Object1", "Object2", ...
  std::string candidate = name;
  for (long long counter = 1; nameTaken(candidate); ++counter) {
    candidate = name + std::to_string(counter);
  }
  object->name = candidate;
  objects.push_back(std::move(object));
  return *objects.back();
}

void Project::RemoveObject(const std::string& name) {
  auto it = std::find_if(objects.begin(), objects.end(),
                         [&](const auto& object) { return object->name == name; });
  if (it != objects.end()) objects.erase(it);
}

void Project::Clear() {
  objects.clear();
  photos.clear();
}

void Project::RemoveFromCurrentObjects(std::int32_t id) {
  for (auto& object : objects) {
    if (object->current) object->RemovePosition(id);
  }
}

std::int32_t Project::AddImagePoint(std::int32_t photo, const ImagePoint& point) {
  std::int32_t id = -1;
  if (!graph.FindPositionNear(photo, 0, point, id)) {
    if (!graph.NewPosition(id)) return -1;
    for (auto& object : objects) {
      if (object->current) object->AddPosition(id);
    }
  }
  graph.SetImagePoint(id, photo, point);
  return id;
}

bool Project::MoveImagePoint(std::int32_t id, std::int32_t photo, const ImagePoint& point) {
  return graph.SetImagePoint(id, photo, point);
}

bool Project::RemoveImagePoint(std::int32_t id, std::int32_t photo) {
  bool removed = false;
  const bool existed = graph.RemoveImagePoint(id, photo, removed);
  if (removed) RemoveFromCurrentObjects(id);
  return existed;
}

bool Project::MergePositions(std::int32_t from, std::int32_t into) {
  if (from == into) return true;
  const bool merged = graph.MergePositions(from, into);
  RemoveFromCurrentObjects(from);
  return merged;
}

std::int32_t Project::AddEdge(std::int32_t a, std::int32_t b) {
  std::int32_t id = -1;
  if (!graph.FindEdge(a, b, id) && !graph.FindEdge(b, a, id)) graph.CreateEdge(a, b, id);
  return id;
}

bool Project::DeleteEdge(std::int32_t id) { return graph.DeleteEdge(id); }

bool Project::SplitEdge(std::int32_t& edgeId, std::int32_t positionId) {
  return graph.SplitEdge(edgeId, positionId);
}

bool Project::IsInCurrentObject(std::int32_t id) const {
  return std::any_of(objects.begin(), objects.end(),
                     [id](const auto& object) { return object->current && object->Contains(id); });
}

namespace {

// Steps `find` through its matches, each search continuing after the id found last, until
// `accept` takes one (true, `id` holds it) or the matches end (false, `id` unchanged). Every
// search walks up in id order, but -1 is both "from the lowest id" and an id a file may hold:
// after the match -1 a position search starts again from the lowest id. A match that does not
// come after the one before therefore ends the stepping.
template <typename Find, typename Accept>
bool FindAccepted(const Find& find, const Accept& accept, std::int32_t& id) {
  std::int32_t candidate = id;
  std::optional<std::int32_t> previous;
  while (find(candidate)) {
    if (previous && candidate <= *previous) return false;
    if (accept(candidate)) {
      id = candidate;
      return true;
    }
    previous = candidate;
  }
  return false;
}

}  // namespace

bool Project::FindPositionInCurrentObject(std::int32_t photo, std::int32_t tolerance,
                                          const ImagePoint& point, std::int32_t& id) const {
  return FindAccepted(
      [&](std::int32_t& candidate) {
        return graph.FindPositionNear(photo, tolerance, point, candidate);
      },
      [&](std::int32_t candidate) { return IsInCurrentObject(candidate); }, id);
}

bool Project::FindEdgeInCurrentObject(std::int32_t photo, std::int32_t tolerance,
                                      const ImagePoint& point, std::int32_t& id) const {
  return FindAccepted(
      [&](std::int32_t& candidate) {
        return graph.FindEdgeNear(photo, tolerance, point, candidate);
      },
      [&](std::int32_t candidate) {
        std::int32_t a = 0, b = 0;
        graph.GetEdge(candidate, a, b);
        return IsInCurrentObject(a) && IsInCurrentObject(b);
      },
      id);
}

StepAdvice Project::NextStepAdvice(std::int32_t photo) const {
  if (photos.empty()) {
    return {1, "No Image. First add images to the project", "GettingStarted.html#ModelingStep"};
  }
  if (objects.empty()) return {2, "No Object. Add an object in the Object List", "ObjectList.html"};
  const bool known = photo >= 0 && static_cast<std::size_t>(photo) < photos.size();
  if (!known || !photos[photo]->camera.calibrated) {
    // The run would not try a photo with too few positions to go by; the advice counts the real
    // ones, which the user marks, though borrowed computed ones may make up the number.
    if (known && CalibrationPositions(photo, true).size() < engine::kMinControlPoints) {
      return {3,
              std::to_string(CalibrationPositions(photo, false).size()) + " of at least " +
                  std::to_string(engine::kMinControlPoints) +
                  " points with real coordinates are marked in this photo",
              "GettingStarted.html#CalibrationStep"};
    }
    return {3, "Image not calibrated. Run the calibration process",
            "GettingStarted.html#CalibrationStep"};
  }
  bool anyCurrent = false;
  bool anyReal = false;
  for (const auto& object : objects) {
    if (!object->current) continue;
    anyCurrent = true;
    for (std::int32_t id : object->positionIds) anyReal = anyReal || graph.IsReal(id);
  }
  if (!anyCurrent) {
    return {2, "No Object selected. Select an object in the Object List", "ObjectList.html"};
  }
  if (!anyReal) {
    return {3, "No vertex with real coordinate. Add real coordinates to at least 3 vertices",
            "GettingStarted.html#CalibrationStep"};
  }
  return {0, "", "2Dviews.html"};
}

std::vector<std::int32_t> Project::CalibrationPositions(std::int32_t photo,
                                                        bool borrowComputed) const {
  std::vector<std::int32_t> ids;
  for (const auto& [id, position] : graph.positions) {
    if (position.isReal && position.imagePoints.contains(photo)) ids.push_back(id);
  }
  if (!borrowComputed || ids.size() >= 2) return ids;
  // A photo short of real positions borrows the computed ones that a calibrated photo sees too.
  const auto seenInCalibratedPhoto = [&](const Position& position) {
    return std::any_of(
        position.imagePoints.begin(), position.imagePoints.end(), [&](const auto& entry) {
          const std::int32_t other = entry.first;
          return other != photo && other >= 0 && static_cast<std::size_t>(other) < photos.size() &&
                 photos[other]->camera.calibrated;
        });
  };
  for (const auto& [id, position] : graph.positions) {
    if (position.isReal || !position.isComputed || !position.imagePoints.contains(photo)) continue;
    if (seenInCalibratedPhoto(position)) ids.push_back(id);
  }
  return ids;
}

}  // namespace modrin::model
