#include "mesh/mesh_builder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/geometry/vec.h"
#include "engine/parallel_work.h"
#include "engine/reconstruction.h"
#include "mesh/triangulation.h"
#include "model/object.h"
#include "model/project.h"

namespace modrin::mesh {

using model::MeshVertex;
using model::ObjectPhotoMesh;

namespace {

// A position of the object with known coordinates, marked in the photo at `pixel`.
struct Marked {
  model::ImagePoint pixel;
  std::int32_t id = 0;
  const model::Position* position = nullptr;
};

// Work space for building meshes one after another, kept for its memory.
struct Scratch {
  struct Key {
    std::uint64_t pixel;  // x, then y, in an order-keeping unsigned form
    std::uint32_t mark;   // index in the marks, which ascend in id
    friend auto operator<=>(const Key&, const Key&) = default;
  };
  std::vector<Key> order;
  std::vector<MeshVertex*> vertexOf;  // by mark index; null for a pixel taken by a lower id
};

// The photo whose picture gives the texture of entry `photoIndex`, or null when the mesh stays
// empty.
const model::Photo* TexturePhoto(const model::PositionGraph* graph, int photoIndex) {
  if (!graph || !graph->photos || static_cast<std::size_t>(photoIndex) >= graph->photos->size()) {
    return nullptr;
  }
  const model::Photo* photo = (*graph->photos)[static_cast<std::size_t>(photoIndex)].get();
  if (!photo || !photo->HasImage() || !photo->image().IsValid()) return nullptr;
  return photo;
}

// The mesh entry `photoIndex` of the object, made when missing and cleared; null when the
// object has no such entry.
ObjectPhotoMesh* ClearedMesh(model::Object& object, int photoIndex) {
  if (photoIndex < 0 || static_cast<std::size_t>(photoIndex) >= object.photoMeshes.size()) {
    return nullptr;
  }
  auto& slot = object.photoMeshes[static_cast<std::size_t>(photoIndex)];
  if (!slot) slot = std::make_unique<ObjectPhotoMesh>();
  slot->Clear();
  return slot.get();
}

std::uint64_t PixelKey(const model::ImagePoint& pixel) {
  // Flipping the sign bit turns the signed order into the unsigned one.
  const auto x = static_cast<std::uint32_t>(pixel.x) ^ 0x80000000u;
  const auto y = static_cast<std::uint32_t>(pixel.y) ^ 0x80000000u;
  return static_cast<std::uint64_t>(x) << 32 | y;
}

engine::Vec3 WorldPoint(const MeshVertex& vertex) { return {vertex.x, vertex.y, vertex.z}; }

// Builds the cleared `mesh` of `photo` from the marked positions (ascending id) and the faces
// traced in this photo (in face order).
void BuildMesh(ObjectPhotoMesh& mesh, const model::Photo& photo, std::span<const Marked> marked,
               std::span<const engine::Face* const> faces, Scratch& scratch) {
  // Adding in vertex order keeps every insertion at the end; among positions sharing a pixel the
  // lower id still comes first and is the one kept.
  scratch.order.clear();
  for (std::size_t i = 0; i < marked.size(); ++i) {
    scratch.order.push_back({PixelKey(marked[i].pixel), static_cast<std::uint32_t>(i)});
  }
  std::sort(scratch.order.begin(), scratch.order.end());
  scratch.vertexOf.assign(marked.size(), nullptr);
  for (const Scratch::Key& key : scratch.order) {
    const Marked& mark = marked[key.mark];
    const engine::Vec2 normalized = model::PixelToNormalized(photo, mark.pixel.x, mark.pixel.y);
    model::MeshVertexRecord record;
    record.x = mark.pixel.x;
    record.y = mark.pixel.y;
    record.u = normalized.x + 0.5;
    record.v = normalized.y + 0.5;
    scratch.vertexOf[key.mark] = mesh.AddVertex(record);
  }
  auto vertexFor = [&](std::int32_t id) -> MeshVertex* {
    auto at = std::lower_bound(marked.begin(), marked.end(), id,
                               [](const Marked& mark, std::int32_t key) { return mark.id < key; });
    if (at == marked.end() || at->id != id) return nullptr;
    return scratch.vertexOf[static_cast<std::size_t>(at - marked.begin())];
  };

  for (const engine::Face* face : faces) {
    for (const auto& [from, to] : face->segments) {
      MeshVertex* a = vertexFor(from);
      MeshVertex* b = vertexFor(to);
      if (a && b) mesh.AddSegment(a, b);
    }
  }

  Triangulate(mesh);

  // Only known positions were admitted, so every vertex takes its world coordinates.
  for (std::size_t i = 0; i < marked.size(); ++i) {
    MeshVertex* vertex = scratch.vertexOf[i];
    if (!vertex) continue;
    vertex->x = marked[i].position->coords[0];
    vertex->y = marked[i].position->coords[1];
    vertex->z = marked[i].position->coords[2];
  }
  SetTriangleNormals(mesh, photo.camera);
}

// What every mesh of one model update reads from the graph, taken in once: the known positions
// marked in each photo, ascending in id, and each object's ids in a flat list. Read-only once
// made, so the meshes of several photos can be built from it at the same time.
class UpdateMarks {
 public:
  UpdateMarks(const model::PositionGraph& graph,
              const std::vector<std::unique_ptr<model::Object>>& objects) {
    const std::size_t photoCount = graph.photos ? graph.photos->size() : 0;
    byPhoto_.resize(photoCount);
    for (const auto& [id, position] : graph.positions) {
      if (!position.isReal && !position.isComputed) continue;
      for (const auto& [photo, pixel] : position.imagePoints) {
        if (photo < 0) continue;
        if (static_cast<std::size_t>(photo) >= photoCount) break;
        byPhoto_[static_cast<std::size_t>(photo)].push_back({pixel, id, &position});
      }
    }
    for (const auto& object : objects) {
      ids_.emplace(object.get(), std::vector<std::int32_t>(object->positionIds.begin(),
                                                           object->positionIds.end()));
    }
  }

  // The object's known positions marked in photo p, ascending in id, into `selected`.
  void Of(const model::Object& object, int p, std::vector<Marked>& selected) const {
    const std::vector<std::int32_t>& ids = ids_.at(&object);
    const std::vector<Marked>& inPhoto = byPhoto_[static_cast<std::size_t>(p)];
    selected.clear();
    // Both lists ascend; the shorter one is looked up in the longer one.
    if (ids.size() >= 4 * inPhoto.size()) {
      auto from = ids.begin();
      for (const Marked& mark : inPhoto) {
        from = std::lower_bound(from, ids.end(), mark.id);
        if (from == ids.end()) break;
        if (*from == mark.id) selected.push_back(mark);
      }
    } else if (inPhoto.size() >= 4 * ids.size()) {
      auto from = inPhoto.begin();
      for (std::int32_t id : ids) {
        from = std::lower_bound(from, inPhoto.end(), id,
                                [](const Marked& mark, std::int32_t key) { return mark.id < key; });
        if (from == inPhoto.end()) break;
        if (from->id == id) selected.push_back(*from);
      }
    } else {
      auto id = ids.begin();
      for (const Marked& mark : inPhoto) {
        while (id != ids.end() && *id < mark.id) ++id;
        if (id == ids.end()) break;
        if (*id == mark.id) selected.push_back(mark);
      }
    }
  }

 private:
  std::vector<std::vector<Marked>> byPhoto_;
  std::unordered_map<const model::Object*, std::vector<std::int32_t>> ids_;
};

// Builds every object's mesh for photo p, in the project's object order, from the faces the
// finder accepted there.
void BuildPhotoMeshes(model::Project& project, int p, const UpdateMarks& marks,
                      const engine::FaceFinder& finder, Scratch& scratch,
                      std::vector<Marked>& selected) {
  for (auto& object : project.objects) {
    ObjectPhotoMesh* mesh = ClearedMesh(*object, p);
    if (!mesh) continue;
    const model::Photo* texture = TexturePhoto(object->graph, p);
    if (!texture) continue;
    marks.Of(*object, p, selected);
    BuildMesh(*mesh, *texture, selected, finder.AcceptedFaces(p), scratch);
  }
}

}  // namespace

void SetTriangleNormals(ObjectPhotoMesh& mesh, const engine::CameraRecord& camera) {
  // Below this sine of the angle between two sides the corners count as one line.
  constexpr double kFlat = 1e-9;
  for (model::MeshTriangle& triangle : mesh.triangles()) {
    const engine::Vec3 a = WorldPoint(*triangle.Corner(0));
    const engine::Vec3 ab = WorldPoint(*triangle.Corner(1)) - a;
    const engine::Vec3 ac = WorldPoint(*triangle.Corner(2)) - a;
    const engine::Vec3 toCamera = camera.translation - (a + (ab + ac) / 3);
    engine::Vec3 normal = engine::Cross(ab, ac);
    const double length = std::sqrt(normal.SquaredLength());
    if (std::isfinite(length) &&
        length > kFlat * std::sqrt(ab.SquaredLength() * ac.SquaredLength())) {
      normal = normal / length;
      if (camera.calibrated && engine::Dot(normal, toCamera) < 0) normal = normal * -1;
    } else {
      const double distance = std::sqrt(toCamera.SquaredLength());
      const bool towardCamera = camera.calibrated && distance > 0 && std::isfinite(distance);
      normal = towardCamera ? toCamera / distance : engine::Vec3{0, 0, 1};
    }
    triangle.normal = {normal.x, normal.y, normal.z};
  }
}

void BuildObjectPhotoMesh(model::Object& object, int photoIndex,
                          const std::set<engine::Face, engine::FaceOrder>& faces) {
  ObjectPhotoMesh* mesh = ClearedMesh(object, photoIndex);
  if (!mesh) return;
  const model::PositionGraph* graph = object.graph;
  const model::Photo* photo = TexturePhoto(graph, photoIndex);
  if (!photo) return;

  std::vector<Marked> marked;
  for (std::int32_t id : object.positionIds) {
    auto found = graph->positions.find(id);
    if (found == graph->positions.end()) continue;
    const model::Position& position = found->second;
    auto point = position.imagePoints.find(photoIndex);
    if ((position.isReal || position.isComputed) && point != position.imagePoints.end()) {
      marked.push_back({point->second, id, &position});
    }
  }
  std::vector<const engine::Face*> inPhoto;
  for (const engine::Face& face : faces) {
    if (face.photo == photoIndex) inPhoto.push_back(&face);
  }
  Scratch scratch;
  BuildMesh(*mesh, *photo, marked, inPhoto, scratch);
}

std::size_t UpdateModelWithMeshes(model::Project& project, int threads) {
  const bool ownGraphs =
      std::all_of(project.objects.begin(), project.objects.end(),
                  [&](const auto& object) { return object->graph == &project.graph; });
  if (!ownGraphs) {
    // An object that reads another graph is built the general way, one photo after the other.
    return engine::UpdateModel(project, [](model::Project&, model::Object& object, int photo,
                                           const engine::FaceFinder& finder) {
      BuildObjectPhotoMesh(object, photo, finder.faces);
    });
  }

  project.graph.ComputeAll();
  engine::FaceFinder finder(project.graph);
  finder.BuildAdjacency();
  const UpdateMarks marks(project.graph, project.objects);
  const std::size_t photos = project.photos.size();
  const int workers = engine::WorkerCount(threads, photos + 1);
  if (workers <= 1 || photos < 2) {
    Scratch scratch;
    std::vector<Marked> selected;
    for (std::size_t p = 0; p < photos; ++p) {
      finder.FindFaces(static_cast<int>(p));
      BuildPhotoMeshes(project, static_cast<int>(p), marks, finder, scratch, selected);
    }
    return finder.faces.size();
  }

  // Each photo's faces depend on those of the photos before it, so one item finds them all, in
  // order; the meshes of a photo need only its own faces, which no later photo changes, so
  // each photo's meshes are an item of their own that starts once its faces are there. Every
  // mesh is built as in the loop above, whichever thread builds it. Item 0 is handed out
  // first, so a waiting item always waits for work under way.
  std::mutex mutex;
  std::condition_variable facesFound;
  std::size_t photosDone = 0;
  bool findingFailed = false;
  auto findFaces = [&] {
    try {
      for (std::size_t p = 0; p < photos; ++p) {
        finder.FindFaces(static_cast<int>(p));
        {
          const std::lock_guard lock(mutex);
          photosDone = p + 1;
        }
        facesFound.notify_all();
      }
    } catch (...) {
      {
        const std::lock_guard lock(mutex);
        findingFailed = true;
      }
      facesFound.notify_all();
      throw;
    }
  };
  auto buildMeshes = [&](std::size_t p) {
    {
      std::unique_lock lock(mutex);
      facesFound.wait(lock, [&] { return photosDone > p || findingFailed; });
      if (findingFailed) return;
    }
    Scratch scratch;
    std::vector<Marked> selected;
    BuildPhotoMeshes(project, static_cast<int>(p), marks, finder, scratch, selected);
  };
  const std::atomic<bool> never{false};
  engine::RunParallel(
      photos + 1, workers, never,
      [&](std::size_t item) {
        if (item == 0) {
          findFaces();
        } else {
          buildMeshes(item - 1);
        }
      },
      [](std::size_t) {});
  return finder.faces.size();
}

}  // namespace modrin::mesh
