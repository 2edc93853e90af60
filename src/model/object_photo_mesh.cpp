#include "model/object_photo_mesh.h"

#include <algorithm>
#include <cmath>

namespace modrin::model {

namespace {

// Up to this many entries a plain scan beats a binary search. Only the enclosing corners of a
// triangulation gather many more.
constexpr std::size_t kScanned = 8;

}  // namespace

// The entries ascend in the end vertices' index, which is unique within a mesh.
std::vector<OutgoingHalfEdges::Entry>::iterator OutgoingHalfEdges::Locate(const MeshVertex* to) {
  if (entries_.size() <= kScanned) {
    return std::find_if(entries_.begin(), entries_.end(),
                        [&](const Entry& entry) { return entry.to == to; });
  }
  auto at = std::lower_bound(entries_.begin(), entries_.end(), to->index,
                             [](const Entry& entry, int index) { return entry.index < index; });
  return at != entries_.end() && at->to == to ? at : entries_.end();
}

MeshHalfEdge* OutgoingHalfEdges::Find(const MeshVertex* to) const {
  auto at = const_cast<OutgoingHalfEdges*>(this)->Locate(to);
  return at != entries_.end() ? at->edge : nullptr;
}

void OutgoingHalfEdges::Insert(MeshHalfEdge* edge) {
  // Vertices added later shift the indices of those after them but never change their relative
  // order, so the entries stay sorted.
  // Searched from the back: a triangulation inserts its vertices in index order, so a new
  // half-edge mostly ends at the newest vertex, which only the enclosing corners follow.
  const int index = edge->to->index;
  auto at = entries_.end();
  while (at != entries_.begin() && (at - 1)->index > index) --at;
  entries_.insert(at, Entry{edge->to, edge, index});
}

void OutgoingHalfEdges::Erase(const MeshVertex* to) {
  auto at = Locate(to);
  if (at != entries_.end()) entries_.erase(at);
}

ObjectPhotoMesh::~ObjectPhotoMesh() = default;

ObjectPhotoMesh::Storage& ObjectPhotoMesh::storage() {
  if (!storage_) storage_ = std::make_unique<Storage>();
  return *storage_;
}

std::span<MeshVertex* const> ObjectPhotoMesh::vertices() const {
  if (!storage_) return {};
  return storage_->vertices;
}

const std::vector<ObjectPhotoMesh::Constraint>& ObjectPhotoMesh::constraints() const {
  static const std::vector<Constraint> kNone;
  return storage_ ? storage_->constraints : kNone;
}

const std::array<MeshVertex*, 3>& ObjectPhotoMesh::enclosingCorners() const {
  static const std::array<MeshVertex*, 3> kNone{};
  return storage_ ? storage_->enclosingCorners : kNone;
}

void ObjectPhotoMesh::Clear() {
  if (!storage_) return;
  // Every element goes, so the links between them need no undoing: the pools take everything
  // back at once, and an element handed out again is reset by whoever takes it.
  Storage& s = *storage_;
  s.newest = nullptr;
  s.triangleCount = 0;
  s.enclosingCorners = {};
  s.halfEdgesToCorners = 0;
  s.vertices.clear();
  s.insertionKeys.clear();
  s.vertexPool.Reset();
  s.halfEdgePool.Reset();
  s.trianglePool.Reset();
  s.constraints.clear();
}

MeshVertex* ObjectPhotoMesh::AddVertex(const MeshVertexRecord& record) {
  if (!std::isfinite(record.x) || !std::isfinite(record.y)) return nullptr;
  Storage& s = storage();
  const std::pair<double, double> key{record.x, record.y};
  // Builders add in vertex order, so the place is nearly always the end.
  auto at = s.insertionKeys.empty() || s.insertionKeys.back() < key
                ? s.insertionKeys.end()
                : std::lower_bound(s.insertionKeys.begin(), s.insertionKeys.end(), key);
  if (at != s.insertionKeys.end() && *at == key) return nullptr;
  const auto place = static_cast<std::size_t>(at - s.insertionKeys.begin());

  bool fresh = false;
  MeshVertex& vertex = *s.vertexPool.Allocate(fresh);
  vertex.outgoing.entries_.clear();  // keeps its capacity
  static_cast<MeshVertexRecord&>(vertex) = record;
  s.insertionKeys.insert(at, key);
  s.vertices.insert(s.vertices.begin() + static_cast<std::ptrdiff_t>(place), &vertex);
  RenumberFrom(place);
  return &vertex;
}

void ObjectPhotoMesh::RenumberFrom(std::size_t first) {
  Storage& s = storage();
  for (std::size_t i = first; i < s.vertices.size(); ++i) {
    s.vertices[i]->index = static_cast<int>(i);
  }
  for (std::size_t k = 0; k < s.enclosingCorners.size(); ++k) {
    if (s.enclosingCorners[k]) {
      s.enclosingCorners[k]->index = static_cast<int>(s.vertices.size() + k);
    }
  }
  // A mesh is built after its vertices are added, so half-edges are rarely there to update.
  if (s.halfEdgePool.used() > 0) RefreshEntryIndices();
}

void ObjectPhotoMesh::RefreshEntryIndices() {
  Storage& s = *storage_;
  auto refresh = [](MeshVertex* vertex) {
    for (OutgoingHalfEdges::Entry& entry : vertex->outgoing.entries_) entry.index = entry.to->index;
  };
  for (MeshVertex* vertex : s.vertices) refresh(vertex);
  for (MeshVertex* corner : s.enclosingCorners) {
    if (corner) refresh(corner);
  }
}

void ObjectPhotoMesh::AddSegment(MeshVertex* a, MeshVertex* b) {
  const std::span<MeshVertex* const> mine = vertices();
  auto isMine = [&](const MeshVertex* vertex) {
    return vertex && vertex->index >= 0 && static_cast<std::size_t>(vertex->index) < mine.size() &&
           mine[static_cast<std::size_t>(vertex->index)] == vertex;
  };
  if (a == b || !isMine(a) || !isMine(b)) return;
  storage().constraints.emplace_back(a, b);
}

void ObjectPhotoMesh::SetEnclosingCorners(const std::array<MeshVertexRecord, 3>& corners) {
  RemoveEnclosingCorners();
  Storage& s = storage();
  for (std::size_t k = 0; k < corners.size(); ++k) {
    MeshVertex& corner = s.enclosingStorage[k];
    static_cast<MeshVertexRecord&>(corner) = corners[k];
    corner.outgoing.entries_.clear();  // keeps its capacity
    corner.index = static_cast<int>(s.vertices.size() + k);
    s.enclosingCorners[k] = &corner;
  }
}

void ObjectPhotoMesh::RemoveEnclosingCorners() {
  if (!storage_) return;
  Storage& s = *storage_;
  for (MeshVertex* corner : s.enclosingCorners) {
    if (!corner) continue;
    // Half-edges ending at the corner start at other vertices.
    for (MeshVertex* vertex : s.vertices) {
      if (s.halfEdgesToCorners == 0) break;
      if (MeshHalfEdge* edge = FindHalfEdge(vertex, corner)) {
        if (edge->triangle) {
          DestroyTriangle(edge->triangle);
        } else {
          DestroyHalfEdge(edge);
        }
      }
    }
    while (!corner->outgoing.empty()) {
      MeshHalfEdge* edge = corner->outgoing.begin()->edge;
      if (edge->triangle) {
        DestroyTriangle(edge->triangle);
      } else {
        DestroyHalfEdge(edge);
      }
    }
  }
  s.enclosingCorners = {};
  s.halfEdgesToCorners = 0;
}

MeshHalfEdge* ObjectPhotoMesh::FindOrCreateHalfEdge(MeshVertex* a, MeshVertex* b) {
  if (MeshHalfEdge* found = FindHalfEdge(a, b)) return found;
  return CreateHalfEdge(a, b);
}

bool ObjectPhotoMesh::IsEnclosingCorner(const MeshVertex* vertex) const {
  const auto& corners = storage_->enclosingCorners;
  return vertex == corners[0] || vertex == corners[1] || vertex == corners[2];
}

MeshHalfEdge* ObjectPhotoMesh::CreateHalfEdge(MeshVertex* a, MeshVertex* b) {
  return AddHalfEdge(a, b, FindHalfEdge(b, a));
}

MeshHalfEdge* ObjectPhotoMesh::AddHalfEdge(MeshVertex* a, MeshVertex* b, MeshHalfEdge* twin) {
  bool fresh = false;
  MeshHalfEdge* edge = storage().halfEdgePool.Allocate(fresh);
  return LinkHalfEdge(edge, a, b, twin);
}

MeshHalfEdge* ObjectPhotoMesh::LinkHalfEdge(MeshHalfEdge* edge, MeshVertex* a, MeshVertex* b,
                                            MeshHalfEdge* twin) {
  *edge = MeshHalfEdge{};
  edge->from = a;
  edge->to = b;
  a->outgoing.Insert(edge);
  if (twin) {
    edge->twin = twin;
    twin->twin = edge;
    edge->constrained = twin->constrained;
  }
  if (IsEnclosingCorner(b)) ++storage_->halfEdgesToCorners;
  return edge;
}

void ObjectPhotoMesh::DestroyHalfEdge(MeshHalfEdge* edge) {
  if (IsEnclosingCorner(edge->to)) --storage_->halfEdgesToCorners;
  edge->from->outgoing.Erase(edge->to);
  if (edge->twin) edge->twin->twin = nullptr;
  if (edge->triangle) {
    for (MeshHalfEdge*& slot : edge->triangle->edges) {
      if (slot == edge) slot = nullptr;
    }
  }
  *edge = MeshHalfEdge{};
  storage().halfEdgePool.Release(edge);
}

void ObjectPhotoMesh::DestroyFreeHalfEdges() {
  if (!storage_) return;
  std::vector<MeshHalfEdge*> unowned;
  auto collect = [&](const MeshVertex* vertex) {
    for (const auto& entry : vertex->outgoing) {
      if (!entry.edge->triangle) unowned.push_back(entry.edge);
    }
  };
  for (const MeshVertex* vertex : storage_->vertices) collect(vertex);
  for (const MeshVertex* corner : storage_->enclosingCorners) {
    if (corner) collect(corner);
  }
  for (MeshHalfEdge* edge : unowned) DestroyHalfEdge(edge);
}

MeshTriangle* ObjectPhotoMesh::MakeTriangle(MeshVertex* a, MeshVertex* b, MeshVertex* c) {
  if (!a || !b || !c || a == b || b == c || c == a) return nullptr;
  const std::array<MeshVertex*, 3> corners{a, b, c};
  std::array<MeshHalfEdge*, 3> sides{};
  for (std::size_t k = 0; k < 3; ++k) {
    sides[k] = FindHalfEdge(corners[k], corners[(k + 1) % 3]);
    if (sides[k] && sides[k]->triangle) return nullptr;
  }

  for (std::size_t k = 0; k < 3; ++k) {
    // A side not found above is not made by the sides before it, which join other pairs.
    if (!sides[k]) sides[k] = CreateHalfEdge(corners[k], corners[(k + 1) % 3]);
  }
  return MakeTriangleOnSides(sides[0], sides[1], sides[2]);
}

MeshTriangle* ObjectPhotoMesh::MakeTriangleOnSides(MeshHalfEdge* ab, MeshHalfEdge* bc,
                                                   MeshHalfEdge* ca) {
  Storage& s = storage();
  bool fresh = false;
  MeshTriangle* triangle = s.trianglePool.Allocate(fresh);
  const std::size_t slot = fresh ? s.trianglePool.used() - 1 : triangle->slot_;
  *triangle = MeshTriangle{};
  triangle->slot_ = slot;
  triangle->edges = {ab, bc, ca};
  for (MeshHalfEdge* side : triangle->edges) side->triangle = triangle;
  LinkTriangle(triangle);
  return triangle;
}

void ObjectPhotoMesh::RemakeTriangle(MeshTriangle* triangle, MeshHalfEdge* ab, MeshHalfEdge* bc,
                                     MeshHalfEdge* ca) {
  Storage& s = *storage_;
  for (MeshHalfEdge* side : triangle->edges) {
    if (side && side->triangle == triangle) side->triangle = nullptr;
  }
  if (triangle->previous_) {
    triangle->previous_->next_ = triangle->next_;
  } else {
    s.newest = triangle->next_;
  }
  if (triangle->next_) triangle->next_->previous_ = triangle->previous_;
  triangle->next_ = nullptr;
  triangle->previous_ = nullptr;
  --s.triangleCount;
  triangle->edges = {ab, bc, ca};
  for (MeshHalfEdge* side : triangle->edges) side->triangle = triangle;
  LinkTriangle(triangle);
}

MeshHalfEdge* ObjectPhotoMesh::ReuseHalfEdge(MeshHalfEdge* edge, MeshVertex* a, MeshVertex* b,
                                             MeshHalfEdge* twin) {
  if (IsEnclosingCorner(edge->to)) --storage_->halfEdgesToCorners;
  edge->from->outgoing.Erase(edge->to);
  if (edge->twin) edge->twin->twin = nullptr;
  return LinkHalfEdge(edge, a, b, twin);
}

void ObjectPhotoMesh::LinkTriangle(MeshTriangle* triangle) {
  Storage& s = *storage_;
  triangle->next_ = s.newest;
  if (s.newest) s.newest->previous_ = triangle;
  s.newest = triangle;
  ++s.triangleCount;
}

void ObjectPhotoMesh::DestroyTrianglesAndFreeHalfEdges(const std::vector<bool>& doomed) {
  if (!storage_) return;
  Storage& s = *storage_;
  for (MeshTriangle* triangle = s.newest; triangle;) {
    MeshTriangle* next = triangle->next_;
    if (triangle->slot_ < doomed.size() && doomed[triangle->slot_]) {
      DestroyTriangleKeepingSides(triangle);
    }
    triangle = next;
  }
  // Every half-edge without a triangle goes; the ones that stay forget a twin that went.
  auto sweep = [&](MeshVertex* vertex) {
    auto& entries = vertex->outgoing.entries_;
    std::size_t kept = 0;
    for (const OutgoingHalfEdges::Entry& entry : entries) {
      MeshHalfEdge* edge = entry.edge;
      if (edge->triangle) {
        if (edge->twin && !edge->twin->triangle) edge->twin = nullptr;
        entries[kept++] = entry;
        continue;
      }
      if (IsEnclosingCorner(edge->to)) --s.halfEdgesToCorners;
      s.halfEdgePool.Release(edge);
    }
    entries.resize(kept);
  };
  for (MeshVertex* vertex : s.vertices) sweep(vertex);
  for (MeshVertex* corner : s.enclosingCorners) {
    if (corner) sweep(corner);
  }
}

void ObjectPhotoMesh::DestroyTriangle(MeshTriangle* triangle) {
  for (MeshHalfEdge* side : triangle->edges) {
    if (side) DestroyHalfEdge(side);
  }
  DestroyTriangleKeepingSides(triangle);
}

void ObjectPhotoMesh::DestroyTriangleKeepingSides(MeshTriangle* triangle) {
  Storage& s = storage();
  for (MeshHalfEdge* side : triangle->edges) {
    if (side) side->triangle = nullptr;
  }
  if (triangle->previous_) {
    triangle->previous_->next_ = triangle->next_;
  } else {
    s.newest = triangle->next_;
  }
  if (triangle->next_) triangle->next_->previous_ = triangle->previous_;
  const std::size_t slot = triangle->slot_;
  *triangle = MeshTriangle{};
  triangle->slot_ = slot;
  s.trianglePool.Release(triangle);
  --s.triangleCount;
}

void ObjectPhotoMesh::DestroyAllTriangles() {
  if (!storage_) return;
  while (storage_->newest) DestroyTriangle(storage_->newest);
  DestroyFreeHalfEdges();
}

}  // namespace modrin::model
