#include "model/position_graph.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "engine/geometry/camera.h"
#include "images/camera_database.h"
#include "model/photo.h"

namespace modrin::model {

namespace {

constexpr std::int32_t kMaxId = std::numeric_limits<std::int32_t>::max();

bool Joins(const Edge& edge, std::int32_t a, std::int32_t b) {
  return (edge.first == a && edge.second == b) || (edge.first == b && edge.second == a);
}

}  // namespace

bool PositionGraph::NewPosition(std::int32_t& id) {
  if (lastPositionId == kMaxId) return false;
  ++lastPositionId;
  positions[lastPositionId] = Position{};
  id = lastPositionId;
  return true;
}

bool PositionGraph::IsKnown(std::int32_t id) const {
  auto it = positions.find(id);
  return it != positions.end() && (it->second.isReal || it->second.isComputed);
}

bool PositionGraph::IsReal(std::int32_t id) const {
  auto it = positions.find(id);
  return it != positions.end() && it->second.isReal;
}

bool PositionGraph::GetImagePoint(std::int32_t id, std::int32_t photo, ImagePoint& point) const {
  auto it = positions.find(id);
  if (it == positions.end()) return false;
  auto pointIt = it->second.imagePoints.find(photo);
  if (pointIt == it->second.imagePoints.end()) return false;
  point = pointIt->second;
  return true;
}

bool PositionGraph::SetImagePoint(std::int32_t id, std::int32_t photo, const ImagePoint& point) {
  auto it = positions.find(id);
  if (it == positions.end()) return false;
  it->second.isComputed = false;
  it->second.imagePoints[photo] = point;
  return true;
}

bool PositionGraph::RemoveImagePoint(std::int32_t id, std::int32_t photo, bool& removed) {
  removed = false;
  auto it = positions.find(id);
  if (it == positions.end()) return false;
  it->second.isComputed = false;
  it->second.imagePoints.erase(photo);
  if (it->second.imagePoints.empty()) {
    positions.erase(it);
    removed = true;
  }

  // Edges are shared by all photos, so every edge of the position goes; a position in the
  // middle of a chain leaves the chain closed behind it.
  int erased = 0;
  std::int32_t farEnds[2] = {0, 0};
  for (auto edge = edges.begin(); edge != edges.end();) {
    if (edge->second.first != id && edge->second.second != id) {
      ++edge;
      continue;
    }
    if (erased < 2)
      farEnds[erased] = edge->second.first == id ? edge->second.second : edge->second.first;
    ++erased;
    edges.erase(edge);
    edge = edges.begin();
  }
  if (erased == 2) {
    std::int32_t newId = -1;
    CreateEdge(farEnds[0], farEnds[1], newId);
  }
  return true;
}

bool PositionGraph::GetCoords(std::int32_t id, Coords& xyz) const {
  auto it = positions.find(id);
  if (it == positions.end()) return false;
  xyz = it->second.coords;
  return it->second.isReal || it->second.isComputed;
}

bool PositionGraph::SetRealCoords(std::int32_t id, const Coords& xyz) {
  auto it = positions.find(id);
  if (it == positions.end()) return false;
  it->second.coords = xyz;
  it->second.isReal = true;
  return true;
}

bool PositionGraph::PlaceOnEdge(std::int32_t photo, std::int32_t edgeId, std::int32_t positionId,
                                Coords& xyz) {
  std::int32_t a = 0, b = 0;
  if (!GetEdge(edgeId, a, b)) return false;
  auto position = positions.find(positionId);
  if (position == positions.end()) return false;
  Coords coordsA, coordsB;
  if (!GetCoords(a, coordsA) || !GetCoords(b, coordsB)) return false;
  ImagePoint p, pa, pb;
  if (!GetImagePoint(positionId, photo, p) || !GetImagePoint(a, photo, pa) ||
      !GetImagePoint(b, photo, pb)) {
    return false;
  }

  // The parameter along the edge comes from the axis on which the edge is longer in the photo.
  const double dx = static_cast<double>(pb.x) - pa.x;
  const double dy = static_cast<double>(pb.y) - pa.y;
  double t = 0;
  if (std::abs(dx) >= std::abs(dy) && dx != 0) {
    t = (static_cast<double>(p.x) - pa.x) / dx;
  } else if (std::abs(dy) > std::abs(dx)) {
    t = (static_cast<double>(p.y) - pa.y) / dy;
  }
  for (int axis = 0; axis < 3; ++axis) {
    xyz[axis] = coordsA[axis] + (coordsB[axis] - coordsA[axis]) * t;
  }
  position->second.coords = xyz;
  position->second.isComputed = true;
  return true;
}

bool PositionGraph::FindPositionNear(std::int32_t photo, std::int32_t tolerance,
                                     const ImagePoint& point, std::int32_t& id) const {
  auto it = positions.begin();
  if (id != -1) {
    it = positions.find(id);
    if (it == positions.end()) return false;
  }
  const std::int64_t tol = tolerance;
  for (; it != positions.end(); ++it) {
    if (it->first == id) continue;
    auto q = it->second.imagePoints.find(photo);
    if (q == it->second.imagePoints.end()) continue;
    if (std::llabs(std::int64_t{q->second.x} - point.x) <= tol &&
        std::llabs(std::int64_t{q->second.y} - point.y) <= tol) {
      id = it->first;
      return true;
    }
  }
  return false;
}

bool PositionGraph::FindEdgeNear(std::int32_t photo, std::int32_t tolerance,
                                 const ImagePoint& point, std::int32_t& id) const {
  auto it = edges.find(id);
  it = it == edges.end() ? edges.begin() : std::next(it);
  const std::int64_t tol = tolerance;
  for (; it != edges.end(); ++it) {
    if (it->first == id) continue;
    ImagePoint p1, p2;
    if (!GetImagePoint(it->second.first, photo, p1) ||
        !GetImagePoint(it->second.second, photo, p2)) {
      continue;
    }
    const std::int64_t px = point.x, py = point.y;
    if (px < std::int64_t{std::min(p1.x, p2.x)} - tol ||
        px > std::int64_t{std::max(p1.x, p2.x)} + tol ||
        py < std::int64_t{std::min(p1.y, p2.y)} - tol ||
        py > std::int64_t{std::max(p1.y, p2.y)} + tol) {
      continue;
    }
    const double dx = static_cast<double>(p2.x) - p1.x;
    const double dy = static_cast<double>(p2.y) - p1.y;
    const double length = std::sqrt(dx * dx + dy * dy);
    if (length == 0) continue;  // both ends on one pixel: no line to be near
    const double distance = std::abs((static_cast<double>(point.y) - p1.y) * dx -
                                     (static_cast<double>(point.x) - p1.x) * dy) /
                            length;
    if (distance < tolerance) {
      id = it->first;
      return true;
    }
  }
  return false;
}

bool PositionGraph::FindEdge(std::int32_t a, std::int32_t b, std::int32_t& id) const {
  bool found = false;
  for (const auto& [edgeId, edge] : edges) {
    if (Joins(edge, a, b)) {
      id = edgeId;
      found = true;
    }
  }
  return found;
}

bool PositionGraph::GetEdge(std::int32_t id, std::int32_t& a, std::int32_t& b) const {
  auto it = edges.find(id);
  if (it == edges.end()) return false;
  a = it->second.first;
  b = it->second.second;
  return true;
}

bool PositionGraph::CreateEdge(std::int32_t a, std::int32_t b, std::int32_t& id) {
  if (a == b || FindEdge(a, b, id)) return false;
  if (lastEdgeId == kMaxId) return false;
  ++lastEdgeId;
  edges[lastEdgeId] = Edge{std::min(a, b), std::max(a, b)};
  id = lastEdgeId;
  return true;
}

bool PositionGraph::DeleteEdge(std::int32_t id) {
  edges.erase(id);
  return true;
}

bool PositionGraph::SplitEdge(std::int32_t& edgeId, std::int32_t positionId) {
  auto it = edges.find(edgeId);
  if (it == edges.end()) return true;
  const Edge edge = it->second;
  if (positionId == edge.first || positionId == edge.second) return true;
  // Without ids left for both halves the edge stays whole rather than being lost.
  if (lastEdgeId > kMaxId - 2) return true;
  edges.erase(it);
  edgeId = -1;
  std::int32_t ignored = -1;
  CreateEdge(edge.first, positionId, ignored);
  CreateEdge(positionId, edge.second, ignored);
  return true;
}

bool PositionGraph::MergePositions(std::int32_t from, std::int32_t into) {
  if (from == into) return true;
  if (!positions.contains(from) || !positions.contains(into)) return false;

  // Every edge, in id order, has `from` replaced by `into` and is then normalized: its ends
  // ordered, erased when it joins a position to itself or when another edge joins the same
  // two positions. A count of edges per pair of ends makes that one pass instead of a scan of
  // all edges per edge. (Edges already visited never gain a duplicate, so walking on after an
  // erase gives what starting again at the first edge would.)
  auto pair = [](const Edge& edge) { return std::minmax(edge.first, edge.second); };
  std::map<std::pair<std::int32_t, std::int32_t>, int> edgesPerPair;
  for (const auto& [id, edge] : edges) ++edgesPerPair[pair(edge)];
  for (auto it = edges.begin(); it != edges.end();) {
    Edge& edge = it->second;
    --edgesPerPair[pair(edge)];
    if (edge.first == from) edge.first = into;
    if (edge.second == from) edge.second = into;
    if (edge.first > edge.second) std::swap(edge.first, edge.second);
    if (edge.first == edge.second || edgesPerPair[pair(edge)] > 0) {
      it = edges.erase(it);
    } else {
      ++edgesPerPair[pair(edge)];
      ++it;
    }
  }
  positions.erase(from);
  return true;
}

void PositionGraph::InvalidateComputed(std::int32_t id) {
  auto it = positions.find(id);
  if (it != positions.end()) it->second.isComputed = false;
}

void PositionGraph::InvalidateAllComputed() {
  for (auto& [id, position] : positions) position.isComputed = false;
}

void PositionGraph::ComputeAll() {
  for (auto& [id, position] : positions) {
    if (!position.isComputed && !position.isReal) ComputePosition(id);
  }
}

const Photo* PositionGraph::MappablePhoto(std::int32_t photo) const {
  if (photo < 0 || static_cast<std::size_t>(photo) >= photos->size()) return nullptr;
  const Photo& candidate = *(*photos)[photo];
  const bool mappable = candidate.camera.calibrated && candidate.HasImage() &&
                        candidate.camera.cameraEntry != nullptr;
  return mappable ? &candidate : nullptr;
}

void PositionGraph::ComputePosition(std::int32_t id) {
  auto it = positions.find(id);
  if (it == positions.end() || it->second.isComputed || it->second.isReal) return;
  // The first two calibrated photos in which the position is marked, the lower index as A.
  // A photo whose picture or camera model is missing cannot turn pixels into rays; it is
  // passed over.
  const Photo* views[2] = {nullptr, nullptr};
  engine::Vec2 points[2];
  int found = 0;
  for (const auto& [photo, point] : it->second.imagePoints) {
    const Photo* view = MappablePhoto(photo);
    if (view == nullptr) continue;
    views[found] = view;
    points[found] = PixelToNormalized(*view, point.x, point.y);
    if (++found == 2) break;
  }
  if (found < 2) return;
  // Parallel rays (or no finite crossing) leave the position uncomputed rather than give it
  // meaningless coordinates.
  const auto crossing =
      engine::IntersectViewRays(views[0]->camera, points[0], views[1]->camera, points[1]);
  if (!crossing) return;
  it->second.coords = {crossing->x, crossing->y, crossing->z};
  it->second.isComputed = true;
}

}  // namespace modrin::model
