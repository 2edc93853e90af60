#include "model/object_photo_mesh.h"

#include <algorithm>
#include <cmath>

namespace modrin::model {

MeshHalfEdge* OutgoingHalfEdges::Find(const MeshVertex* to) const {
  for (const Entry& entry : entries_) {
    if (entry.to == to) return entry.edge;
  }
  return nullptr;
}

void OutgoingHalfEdges::Insert(MeshHalfEdge* edge) {
  // Vertices added later shift the indices of those after them but never change their relative
  // order, so the entries stay sorted.
  auto at = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& entry) { return entry.to->index > edge->to->index; });
  entries_.insert(at, Entry{edge->to, edge});
}

void OutgoingHalfEdges::Erase(const MeshVertex* to) {
  auto at = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& entry) { return entry.to == to; });
  if (at != entries_.end()) entries_.erase(at);
}

void ObjectPhotoMesh::Clear() {
  DestroyAllTriangles();
  RemoveEnclosingCorners();
  vertices_.clear();
  insertionKeys_.clear();
  vertexPool_.Reset();
  halfEdgePool_.Reset();
  trianglePool_.Reset();
  constraints_.clear();
}

MeshVertex* ObjectPhotoMesh::AddVertex(const MeshVertexRecord& record) {
  if (!std::isfinite(record.x) || !std::isfinite(record.y)) return nullptr;
  const std::pair<double, double> key{record.x, record.y};
  auto at = std::lower_bound(insertionKeys_.begin(), insertionKeys_.end(), key);
  if (at != insertionKeys_.end() && *at == key) return nullptr;
  const auto place = static_cast<std::size_t>(at - insertionKeys_.begin());

  bool fresh = false;
  MeshVertex& vertex = *vertexPool_.Allocate(fresh);
  vertex.outgoing.entries_.clear();  // keeps its capacity
  static_cast<MeshVertexRecord&>(vertex) = record;
  insertionKeys_.insert(at, key);
  vertices_.insert(vertices_.begin() + static_cast<std::ptrdiff_t>(place), &vertex);
  RenumberFrom(place);
  return &vertex;
}

void ObjectPhotoMesh::RenumberFrom(std::size_t first) {
  for (std::size_t i = first; i < vertices_.size(); ++i) vertices_[i]->index = static_cast<int>(i);
  for (std::size_t k = 0; k < enclosingCorners_.size(); ++k) {
    if (enclosingCorners_[k]) enclosingCorners_[k]->index = static_cast<int>(vertices_.size() + k);
  }
}

void ObjectPhotoMesh::AddSegment(MeshVertex* a, MeshVertex* b) {
  auto isMine = [this](const MeshVertex* vertex) {
    return vertex && vertex->index >= 0 &&
           static_cast<std::size_t>(vertex->index) < vertices_.size() &&
           vertices_[static_cast<std::size_t>(vertex->index)] == vertex;
  };
  if (a == b || !isMine(a) || !isMine(b)) return;
  constraints_.emplace_back(a, b);
}

void ObjectPhotoMesh::SetEnclosingCorners(const std::array<MeshVertexRecord, 3>& corners) {
  RemoveEnclosingCorners();
  for (std::size_t k = 0; k < corners.size(); ++k) {
    MeshVertex& corner = enclosingStorage_[k];
    corner = MeshVertex{};
    static_cast<MeshVertexRecord&>(corner) = corners[k];
    corner.index = static_cast<int>(vertices_.size() + k);
    enclosingCorners_[k] = &corner;
  }
}

void ObjectPhotoMesh::RemoveEnclosingCorners() {
  for (MeshVertex* corner : enclosingCorners_) {
    if (!corner) continue;
    // Half-edges ending at the corner start at other vertices.
    for (MeshVertex* vertex : vertices_) {
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
  enclosingCorners_ = {};
}

MeshHalfEdge* ObjectPhotoMesh::FindOrCreateHalfEdge(MeshVertex* a, MeshVertex* b) {
  if (MeshHalfEdge* found = FindHalfEdge(a, b)) return found;
  bool fresh = false;
  MeshHalfEdge* edge = halfEdgePool_.Allocate(fresh);
  *edge = MeshHalfEdge{};
  edge->from = a;
  edge->to = b;
  a->outgoing.Insert(edge);
  if (MeshHalfEdge* twin = FindHalfEdge(b, a)) {
    edge->twin = twin;
    twin->twin = edge;
    edge->constrained = twin->constrained;
  }
  return edge;
}

void ObjectPhotoMesh::DestroyHalfEdge(MeshHalfEdge* edge) {
  edge->from->outgoing.Erase(edge->to);
  if (edge->twin) edge->twin->twin = nullptr;
  if (edge->triangle) {
    for (MeshHalfEdge*& slot : edge->triangle->edges) {
      if (slot == edge) slot = nullptr;
    }
  }
  *edge = MeshHalfEdge{};
  halfEdgePool_.Release(edge);
}

void ObjectPhotoMesh::DestroyFreeHalfEdges() {
  std::vector<MeshHalfEdge*> unowned;
  auto collect = [&](const MeshVertex* vertex) {
    for (const auto& entry : vertex->outgoing) {
      if (!entry.edge->triangle) unowned.push_back(entry.edge);
    }
  };
  for (const MeshVertex* vertex : vertices_) collect(vertex);
  for (const MeshVertex* corner : enclosingCorners_) {
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

  bool fresh = false;
  MeshTriangle* triangle = trianglePool_.Allocate(fresh);
  const std::size_t slot = fresh ? trianglePool_.used() - 1 : triangle->slot_;
  *triangle = MeshTriangle{};
  triangle->slot_ = slot;
  for (std::size_t k = 0; k < 3; ++k) {
    if (!sides[k]) sides[k] = FindOrCreateHalfEdge(corners[k], corners[(k + 1) % 3]);
    sides[k]->triangle = triangle;
    triangle->edges[k] = sides[k];
  }
  triangle->next_ = newest_;
  if (newest_) newest_->previous_ = triangle;
  newest_ = triangle;
  ++triangleCount_;
  return triangle;
}

void ObjectPhotoMesh::DestroyTriangle(MeshTriangle* triangle) {
  for (MeshHalfEdge* side : triangle->edges) {
    if (side) DestroyHalfEdge(side);
  }
  DestroyTriangleKeepingSides(triangle);
}

void ObjectPhotoMesh::DestroyTriangleKeepingSides(MeshTriangle* triangle) {
  for (MeshHalfEdge* side : triangle->edges) {
    if (side) side->triangle = nullptr;
  }
  if (triangle->previous_) {
    triangle->previous_->next_ = triangle->next_;
  } else {
    newest_ = triangle->next_;
  }
  if (triangle->next_) triangle->next_->previous_ = triangle->previous_;
  const std::size_t slot = triangle->slot_;
  *triangle = MeshTriangle{};
  triangle->slot_ = slot;
  trianglePool_.Release(triangle);
  --triangleCount_;
}

void ObjectPhotoMesh::DestroyAllTriangles() {
  while (newest_) DestroyTriangle(newest_);
  DestroyFreeHalfEdges();
}

}  // namespace modrin::model
