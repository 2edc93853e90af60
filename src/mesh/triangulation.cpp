#include "mesh/triangulation.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <deque>
#include <limits>
#include <utility>
#include <vector>

namespace modrin::mesh {

using model::MeshHalfEdge;
using model::MeshTriangle;
using model::MeshVertex;
using model::MeshVertexRecord;
using model::ObjectPhotoMesh;

// Pixel coordinates are integers, so for any real photo (and the enclosing corners 100 sizes
// beyond it) these products are exact and the sign is right.
int Orientation(const MeshVertex& a, const MeshVertex& b, const MeshVertex& q) {
  const double d = (b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x);
  if (d > 0) return kLeft;
  if (d < 0) return kRight;
  return kOn;
}

int Orientation(const MeshHalfEdge& edge, const MeshVertex& q) {
  return Orientation(*edge.from, *edge.to, q);
}

int InTriangle(const MeshTriangle& triangle, const MeshVertex& q) {
  std::array<int, 3> sides{};
  for (std::size_t k = 0; k < 3; ++k) {
    sides[k] = Orientation(*triangle.edges[k], q);
    if (sides[k] == kRight) return kOutside;
  }
  if (sides[0] == kLeft && sides[1] == kLeft && sides[2] == kLeft) return kInside;
  if (sides[0] == kOn && sides[1] == kOn && sides[2] == kOn) {
    // A flat triangle is only the stretch of its line between its outermost corners; any other
    // point of that line is on none of its sides.
    const MeshVertex& a = *triangle.Corner(0);
    const MeshVertex& b = *triangle.Corner(1);
    const MeshVertex& c = *triangle.Corner(2);
    const bool within = std::min({a.x, b.x, c.x}) <= q.x && q.x <= std::max({a.x, b.x, c.x}) &&
                        std::min({a.y, b.y, c.y}) <= q.y && q.y <= std::max({a.y, b.y, c.y});
    if (!within) return kOutside;
  }
  return kOn;
}

int InCircle(const MeshVertex& q, const MeshVertex& a, const MeshVertex& b, const MeshVertex& c) {
  const double bx = b.x - a.x, by = b.y - a.y;
  const double cx = c.x - a.x, cy = c.y - a.y;
  const double qx = q.x - a.x, qy = q.y - a.y;
  const double bb = bx * bx + by * by;
  const double cc = cx * cx + cy * cy;
  const double qq = qx * qx + qy * qy;
  const double e = qq * (cx * by - cy * bx) + qx * (cy * bb - cc * by) + qy * (cc * bx - cx * bb);
  if (e > 0) return kInside;
  if (e < 0) return kOutside;
  return kOn;
}

namespace {

std::size_t Next(std::size_t k) { return (k + 1) % 3; }
std::size_t Previous(std::size_t k) { return (k + 2) % 3; }

// The slot of `edge` in its triangle.
std::size_t SlotOf(const MeshHalfEdge& edge) {
  const auto& edges = edge.triangle->edges;
  return static_cast<std::size_t>(std::find(edges.begin(), edges.end(), &edge) - edges.begin());
}

// Flips beyond the first that one Legalize call may make. With exact arithmetic the re-test
// never flips; the bound only matters where rounding makes two tests disagree.
constexpr int kLegalizeFlips = 16;

void LegalizeEdge(ObjectPhotoMesh& mesh, MeshTriangle* triangle, std::size_t k, bool strict,
                  int& flipsLeft) {
  const MeshHalfEdge* across = triangle->edges[k]->twin;
  if (!across || !across->triangle || flipsLeft <= 0) return;
  const MeshTriangle& other = *across->triangle;
  const int where =
      InCircle(*triangle->edges[Next(k)]->to, *other.Corner(0), *other.Corner(1), *other.Corner(2));
  if (where == kOutside || (strict && where != kInside)) return;
  MeshHalfEdge* diagonal = FlipEdge(mesh, triangle, static_cast<int>(k));
  if (!diagonal) return;
  --flipsLeft;
  MeshVertex* c = diagonal->from;
  MeshVertex* d = diagonal->to;
  // The new diagonal is tested once from each side; the first test may flip it away. When it
  // flips nothing, nothing has changed and the diagonal's twin is the other side.
  const int flipsBefore = flipsLeft;
  LegalizeEdge(mesh, diagonal->triangle, SlotOf(*diagonal), true, flipsLeft);
  MeshHalfEdge* back =
      flipsLeft == flipsBefore ? diagonal->twin : ObjectPhotoMesh::FindHalfEdge(d, c);
  if (back && back->triangle) LegalizeEdge(mesh, back->triangle, SlotOf(*back), true, flipsLeft);
}

// Replaces the triangle (a, b, c) by (a, b, q), (b, c, q) and (c, a, q), made in that order; its
// sides are sides of the new triangles. q is a vertex not yet inserted, so none of the six new
// half-edges exists yet.
void SplitTriangle(ObjectPhotoMesh& mesh, MeshTriangle* triangle, MeshVertex* q) {
  MeshHalfEdge* ab = triangle->edges[0];
  MeshHalfEdge* bc = triangle->edges[1];
  MeshHalfEdge* ca = triangle->edges[2];
  MeshVertex* a = ab->from;
  MeshVertex* b = bc->from;
  MeshVertex* c = ca->from;
  mesh.DestroyTriangleKeepingSides(triangle);
  MeshHalfEdge* bq = mesh.AddHalfEdge(b, q, nullptr);
  MeshHalfEdge* qa = mesh.AddHalfEdge(q, a, nullptr);
  mesh.MakeTriangleOnSides(ab, bq, qa);
  MeshHalfEdge* cq = mesh.AddHalfEdge(c, q, nullptr);
  MeshHalfEdge* qb = mesh.AddHalfEdge(q, b, bq);
  mesh.MakeTriangleOnSides(bc, cq, qb);
  MeshHalfEdge* aq = mesh.AddHalfEdge(a, q, qa);
  MeshHalfEdge* qc = mesh.AddHalfEdge(q, c, cq);
  mesh.MakeTriangleOnSides(ca, aq, qc);
}

// Where q lies along a -> b: 0 at a, 1 at b.
double Along(const MeshVertex& a, const MeshVertex& b, const MeshVertex& q) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  return ((q.x - a.x) * dx + (q.y - a.y) * dy) / (dx * dx + dy * dy);
}

// Recovers the part of the segment a -> b that starts at `start` (a, or a vertex on the
// segment). Returns where that part ends: b, or the first vertex lying exactly on the segment
// beyond `start`, which the next part starts from.
MeshVertex* RecoverPart(ObjectPhotoMesh& mesh, MeshVertex& a, MeshVertex& b, MeshVertex& start) {
  // The first triangle at `start`, in key order, that the segment leaves through its far side.
  MeshHalfEdge* crossing = nullptr;
  for (const auto& entry : start.outgoing) {
    const MeshHalfEdge* edge = entry.edge;
    if (!edge->triangle) continue;
    MeshHalfEdge* far = edge->triangle->edges[Next(SlotOf(*edge))];
    if (Orientation(a, b, *edge->to) == kRight && Orientation(a, b, *far->to) == kLeft) {
      crossing = far;
      break;
    }
  }
  if (!crossing) {
    if (const MeshHalfEdge* direct = ObjectPhotoMesh::FindHalfEdge(&start, &b);
        direct && direct->triangle) {
      return &b;
    }
    // No side crosses: the segment runs along a side to a vertex lying on it, where the next
    // part starts, or it cannot be recovered from here.
    const double from = Along(a, b, start);
    for (const auto& entry : start.outgoing) {
      MeshVertex* to = entry.to;
      if (entry.edge->triangle && Orientation(a, b, *to) == kOn) {
        const double at = Along(a, b, *to);
        if (at > from && at < 1) return to;
      }
    }
    return &b;
  }

  // Walk along the segment from triangle to triangle, queueing the sides it crosses, each as
  // (right end, left end).
  std::deque<std::pair<MeshVertex*, MeshVertex*>> queue;
  MeshVertex* end = &b;
  const double from = Along(a, b, start);
  for (std::size_t steps = 0; steps <= mesh.triangleCount(); ++steps) {
    queue.emplace_back(crossing->from, crossing->to);
    const MeshHalfEdge* back = crossing->twin;
    if (!back || !back->triangle) break;
    const std::size_t slot = SlotOf(*back);
    MeshVertex* z = back->triangle->edges[Next(slot)]->to;
    if (z == &b) break;
    const int side = Orientation(a, b, *z);
    if (side == kOn) {
      const double at = Along(a, b, *z);
      if (at > from && at < 1) end = z;
      break;
    }
    crossing =
        side == kLeft ? back->triangle->edges[Next(slot)] : back->triangle->edges[Previous(slot)];
  }

  // Flip the crossing sides. A side that cannot flip yet goes to the back of the queue; when
  // every queued side has failed since the last flip, none ever will, and the part stays
  // unrecovered. The flip budget ends the rare cycles of flips that make no headway.
  const std::size_t initial = queue.size();
  std::size_t flipsLeft = 8 * (initial + 4) * (initial + 4);
  std::size_t failedInARow = 0;
  while (!queue.empty() && failedInARow < queue.size() && flipsLeft > 0) {
    const auto [x, y] = queue.front();
    queue.pop_front();
    MeshHalfEdge* edge = ObjectPhotoMesh::FindHalfEdge(x, y);
    if (!edge || !edge->triangle) {
      failedInARow = 0;
      continue;
    }
    const MeshHalfEdge* diagonal = FlipEdge(mesh, edge->triangle, static_cast<int>(SlotOf(*edge)));
    if (!diagonal) {
      queue.emplace_back(x, y);
      ++failedInARow;
      continue;
    }
    failedInARow = 0;
    --flipsLeft;
    MeshVertex* p = diagonal->from;
    MeshVertex* q = diagonal->to;
    const int sideP = Orientation(a, b, *p);
    const int sideQ = Orientation(a, b, *q);
    if (sideP == kRight && sideQ == kLeft) queue.emplace_back(p, q);
    if (sideP == kLeft && sideQ == kRight) queue.emplace_back(q, p);
  }
  return end;
}

void MarkConstrained(ObjectPhotoMesh& mesh, MeshVertex* a, MeshVertex* b) {
  mesh.FindOrCreateHalfEdge(a, b)->constrained = true;
  mesh.FindOrCreateHalfEdge(b, a)->constrained = true;
}

// Destroys every triangle reachable from the enclosing corners without crossing a constrained
// side, then the corners themselves.
void RemoveOutside(ObjectPhotoMesh& mesh) {
  const auto& corners = mesh.enclosingCorners();
  std::vector<MeshTriangle*> pending;
  // The fill starts across the first open side at the first corner. Every other triangle at a
  // corner is reached from there in a proper triangulation; they are added as well so that no
  // triangle keeps a corner when the enclosing triangle was flat.
  for (const auto& entry : corners[0]->outgoing) {
    const MeshHalfEdge* edge = entry.edge;
    if (!edge->constrained && edge->twin && edge->twin->triangle) {
      pending.push_back(edge->twin->triangle);
      break;
    }
  }
  for (const MeshVertex* corner : corners) {
    for (const auto& entry : corner->outgoing) {
      if (entry.edge->triangle) pending.push_back(entry.edge->triangle);
    }
  }

  std::vector<bool> outside(mesh.triangleSlots(), false);
  while (!pending.empty()) {
    MeshTriangle* triangle = pending.back();
    pending.pop_back();
    if (outside[triangle->slot()]) continue;
    outside[triangle->slot()] = true;
    for (const MeshHalfEdge* edge : triangle->edges) {
      if (!edge->constrained && edge->twin && edge->twin->triangle) {
        pending.push_back(edge->twin->triangle);
      }
    }
  }
  // Half-edges left without a triangle go as well, which is what the end of the triangulation
  // does anyway.
  mesh.DestroyTrianglesAndFreeHalfEdges(outside);
  mesh.RemoveEnclosingCorners();
}

}  // namespace

MeshHalfEdge* FlipEdge(ObjectPhotoMesh& mesh, MeshTriangle* triangle, int k) {
  if (!triangle || k < 0 || k > 2) return nullptr;
  const auto slot = static_cast<std::size_t>(k);
  MeshHalfEdge* shared = triangle->edges[slot];
  MeshHalfEdge* across = shared->twin;
  if (!across || !across->triangle || across->triangle == triangle) return nullptr;
  MeshTriangle* other = across->triangle;
  const std::size_t j = SlotOf(*across);

  // The shared side is a -> b in `triangle` (a, b, c) and b -> a in `other` (b, a, d).
  MeshHalfEdge* bc = triangle->edges[Next(slot)];
  MeshHalfEdge* ca = triangle->edges[Previous(slot)];
  MeshHalfEdge* ad = other->edges[Next(j)];
  MeshHalfEdge* db = other->edges[Previous(j)];
  MeshVertex* c = ca->from;
  MeshVertex* d = db->from;  // opposite the shared side in `other`
  if (Orientation(*bc, *d) == kRight || Orientation(*ca, *d) == kRight) {
    return nullptr;  // not convex
  }
  // In a proper triangulation c and d are distinct and not yet joined; anything else would
  // tear the mesh.
  MeshHalfEdge* cd = ObjectPhotoMesh::FindHalfEdge(c, d);
  MeshHalfEdge* dc = ObjectPhotoMesh::FindHalfEdge(d, c);
  if (c == d || (cd && cd->triangle) || (dc && dc->triangle)) return nullptr;

  // The four outer sides stay and are taken up by the new triangles (c, d, b) and (d, c, a);
  // only the old diagonal goes. A half-edge of the new diagonal may be there already without a
  // triangle (a constraint made ahead). The two triangles, and the old diagonal's half-edges
  // where needed, are made over into the new ones: the same result, and the same collection
  // order, as destroying them and making the new ones.
  shared->triangle = nullptr;
  across->triangle = nullptr;
  if (!cd) {
    cd = mesh.ReuseHalfEdge(shared, c, d, dc);
    shared = nullptr;
  }
  mesh.RemakeTriangle(other, cd, db, bc);
  if (!dc) {
    dc = mesh.ReuseHalfEdge(across, d, c, cd);
    across = nullptr;
  }
  mesh.RemakeTriangle(triangle, dc, ca, ad);
  if (shared) mesh.DestroyHalfEdge(shared);
  if (across) mesh.DestroyHalfEdge(across);
  return other->edges[0];
}

void Legalize(ObjectPhotoMesh& mesh, MeshTriangle* triangle, int k) {
  if (!triangle || k < 0 || k > 2) return;
  int flipsLeft = 1 + kLegalizeFlips;
  LegalizeEdge(mesh, triangle, static_cast<std::size_t>(k), false, flipsLeft);
}

void RecoverSegment(ObjectPhotoMesh& mesh, MeshHalfEdge* constraint) {
  if (!constraint) return;
  MeshVertex* a = constraint->from;
  MeshVertex* b = constraint->to;
  MeshVertex* start = a;
  // Every part ends strictly further along the segment, so there are at most as many parts as
  // vertices.
  for (std::size_t parts = 0; start != b && parts <= mesh.vertices().size(); ++parts) {
    MeshVertex* end = RecoverPart(mesh, *a, *b, *start);
    MarkConstrained(mesh, start, end);
    start = end;
  }
  // The segment itself may have been flipped away with a triangle on it, so it is looked up
  // again rather than kept.
  MarkConstrained(mesh, a, b);
}

void Triangulate(ObjectPhotoMesh& mesh) {
  mesh.DestroyAllTriangles();
  mesh.RemoveEnclosingCorners();
  const std::vector<MeshVertex*> vertices(mesh.vertices().begin(), mesh.vertices().end());
  if (vertices.size() < 3) return;

  const double largest = std::numeric_limits<double>::max();
  double minX = largest, minY = largest, maxX = -largest, maxY = -largest;
  for (const MeshVertex* vertex : vertices) {
    minX = std::min(minX, vertex->x);
    minY = std::min(minY, vertex->y);
    maxX = std::max(maxX, vertex->x);
    maxY = std::max(maxY, vertex->y);
  }
  const double sizeX = maxX - minX, sizeY = maxY - minY;
  MeshVertexRecord s0, s1, s2;
  s0.x = minX - 100 * sizeX;
  s0.y = minY - 100 * sizeY;
  s1.x = maxX + 100 * sizeX;
  s1.y = minY - 100 * sizeY;
  s2.x = (minX + maxX) / 2;
  s2.y = maxY + 100 * sizeY;
  mesh.SetEnclosingCorners({s0, s1, s2});
  const auto& corners = mesh.enclosingCorners();
  mesh.MakeTriangle(corners[0], corners[1], corners[2]);

  for (MeshVertex* q : vertices) {
    // The first triangle of the collection (newest first) that holds q. Vertices come in
    // ascending x, so q nearly always lies in one of the last triangles made.
    MeshTriangle* holder = nullptr;
    for (MeshTriangle& triangle : mesh.triangles()) {
      if (InTriangle(triangle, *q) != kOutside) {
        holder = &triangle;
        break;
      }
    }
    if (!holder) continue;
    const std::array<MeshVertex*, 3> abc{holder->Corner(0), holder->Corner(1), holder->Corner(2)};
    if (q->outgoing.empty()) {
      SplitTriangle(mesh, holder, q);
    } else {
      mesh.DestroyTriangleKeepingSides(holder);  // its sides are sides of the new triangles
      for (std::size_t k = 0; k < 3; ++k) mesh.MakeTriangle(abc[k], abc[Next(k)], q);
    }
    for (std::size_t k = 0; k < 3; ++k) {
      // Edge 0 of the k-th new triangle, unless an earlier flip has replaced that triangle.
      MeshHalfEdge* side = ObjectPhotoMesh::FindHalfEdge(abc[k], abc[Next(k)]);
      if (!side || !side->triangle) continue;
      const std::size_t slot = SlotOf(*side);
      if (side->triangle->edges[Next(slot)]->to != q) continue;
      Legalize(mesh, side->triangle, static_cast<int>(slot));
    }
  }

  for (const auto& [a, b] : mesh.constraints()) {
    MarkConstrained(mesh, a, b);
    RecoverSegment(mesh, ObjectPhotoMesh::FindHalfEdge(a, b));
  }

  RemoveOutside(mesh);
  mesh.DestroyFreeHalfEdges();
}

}  // namespace modrin::mesh
