#include "mesh/mesh_builder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/reconstruction.h"
#include "mesh/triangulation.h"
#include "model/object.h"
#include "model/project.h"

namespace modrin::mesh {

using model::MeshVertex;
using model::ObjectPhotoMesh;

namespace {

struct Marked {
  model::ImagePoint pixel;
  std::int32_t id = 0;
  const model::Position* position = nullptr;
};

}  // namespace

void BuildObjectPhotoMesh(model::Object& object, int photoIndex,
                          const std::set<engine::Face, engine::FaceOrder>& faces) {
  if (photoIndex < 0 || static_cast<std::size_t>(photoIndex) >= object.photoMeshes.size()) return;
  auto& slot = object.photoMeshes[static_cast<std::size_t>(photoIndex)];
  if (!slot) slot = std::make_unique<ObjectPhotoMesh>();
  ObjectPhotoMesh& mesh = *slot;
  mesh.Clear();

  const model::PositionGraph* graph = object.graph;
  if (!graph || !graph->photos || static_cast<std::size_t>(photoIndex) >= graph->photos->size()) {
    return;
  }
  const model::Photo* photo = (*graph->photos)[static_cast<std::size_t>(photoIndex)].get();
  if (!photo || !photo->HasImage() || !photo->image().IsValid()) return;

  // One look-up per position serves IsKnown, GetImagePoint and, after the triangulation,
  // GetCoords. Both id sets ascend, so the look-up mostly steps forward from the last one.
  std::vector<Marked> marked;
  const auto& positions = graph->positions;
  auto found = positions.begin();
  for (std::int32_t id : object.positionIds) {
    for (int step = 0; found != positions.end() && found->first < id; ++step) {
      if (step == 8) {
        found = positions.lower_bound(id);
        break;
      }
      ++found;
    }
    if (found == positions.end()) break;
    if (found->first != id) continue;
    const model::Position& position = found->second;
    auto point = position.imagePoints.find(photoIndex);
    if ((position.isReal || position.isComputed) && point != position.imagePoints.end()) {
      marked.push_back({point->second, id, &position});
    }
  }
  // Adding in vertex order keeps every insertion at the end; among positions sharing a pixel the
  // lower id still comes first and is the one kept.
  std::sort(marked.begin(), marked.end(), [](const Marked& a, const Marked& b) {
    return std::tie(a.pixel.x, a.pixel.y, a.id) < std::tie(b.pixel.x, b.pixel.y, b.id);
  });

  // (position id, vertex), sorted by id, and each vertex with the position it stands for.
  std::vector<std::pair<std::int32_t, MeshVertex*>> vertexOf;
  std::vector<std::pair<MeshVertex*, const model::Position*>> placed;
  for (const Marked& mark : marked) {
    const engine::Vec2 normalized = model::PixelToNormalized(*photo, mark.pixel.x, mark.pixel.y);
    model::MeshVertexRecord record;
    record.x = mark.pixel.x;
    record.y = mark.pixel.y;
    record.u = normalized.x + 0.5;
    record.v = normalized.y + 0.5;
    record.ny = -1;
    if (MeshVertex* vertex = mesh.AddVertex(record)) {
      vertexOf.emplace_back(mark.id, vertex);
      placed.emplace_back(vertex, mark.position);
    }
  }
  std::sort(vertexOf.begin(), vertexOf.end());
  auto vertexFor = [&](std::int32_t id) -> MeshVertex* {
    auto at =
        std::lower_bound(vertexOf.begin(), vertexOf.end(), id,
                         [](const auto& entry, std::int32_t key) { return entry.first < key; });
    return at != vertexOf.end() && at->first == id ? at->second : nullptr;
  };

  for (const engine::Face& face : faces) {
    if (face.photo != photoIndex) continue;
    for (const auto& [from, to] : face.segments) {
      MeshVertex* a = vertexFor(from);
      MeshVertex* b = vertexFor(to);
      if (a && b) mesh.AddSegment(a, b);
    }
  }

  Triangulate(mesh);

  // Only known positions were admitted, so every vertex takes its world coordinates.
  for (const auto& [vertex, position] : placed) {
    vertex->x = position->coords[0];
    vertex->y = position->coords[1];
    vertex->z = position->coords[2];
  }
}

std::size_t UpdateModelWithMeshes(model::Project& project) {
  return engine::UpdateModel(project, [](model::Project&, model::Object& object, int photo,
                                         const engine::FaceFinder& finder) {
    BuildObjectPhotoMesh(object, photo, finder.faces);
  });
}

}  // namespace modrin::mesh
