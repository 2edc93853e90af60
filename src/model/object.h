#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/object_photo_mesh.h"

namespace modrin::model {

class PositionGraph;

// A named group of positions that becomes one mesh. May hold ids of positions that no longer
// exist; readers of positionIds skip those.
class Object {
 public:
  void AddPosition(std::int32_t id) { positionIds.insert(id); }
  void RemovePosition(std::int32_t id) { positionIds.erase(id); }
  bool Contains(std::int32_t id) const { return positionIds.contains(id); }

  std::string name;
  bool current = false;
  PositionGraph* graph = nullptr;  // the project's graph, not owned
  std::set<std::int32_t> positionIds;
  std::vector<std::unique_ptr<ObjectPhotoMesh>> photoMeshes;  // one per photo, by photo index
};

}  // namespace modrin::model
