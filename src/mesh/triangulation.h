#pragma once

#include "model/object_photo_mesh.h"

namespace modrin::mesh {

// Results of the predicates, which use x and y only, in double precision.
inline constexpr int kOn = 0;       // on the line, edge or circle
inline constexpr int kLeft = 1;     // Orientation: left of the directed line
inline constexpr int kRight = 2;    // Orientation: right of it
inline constexpr int kInside = 1;   // InTriangle, InCircle
inline constexpr int kOutside = 2;  // InTriangle, InCircle

// Which side of the line a -> b the point q lies on: kLeft, kRight or kOn.
int Orientation(const model::MeshVertex& a, const model::MeshVertex& b, const model::MeshVertex& q);
int Orientation(const model::MeshHalfEdge& edge, const model::MeshVertex& q);

// kInside when q is strictly inside the triangle, kOn when on a side or corner, kOutside
// otherwise. A flat triangle (all corners on one line) holds only the points on that line
// between its outermost corners.
int InTriangle(const model::MeshTriangle& triangle, const model::MeshVertex& q);

// Where q lies against the circle through a, b, c (a counter-clockwise triangle): kInside,
// kOn or kOutside.
int InCircle(const model::MeshVertex& q, const model::MeshVertex& a, const model::MeshVertex& b,
             const model::MeshVertex& c);

// Flips the diagonal edges[k] of the quadrilateral formed by `triangle` and the triangle across
// that side. Returns the new diagonal (edge 0 of the first new triangle), or null when there is
// no triangle across or the quadrilateral is not convex; nothing changes then.
model::MeshHalfEdge* FlipEdge(model::ObjectPhotoMesh& mesh, model::MeshTriangle* triangle, int k);

// Flips edges[k] of `triangle` when the opposite vertex lies inside or on the circle of the
// triangle across it, then re-tests the new diagonal from both sides, flipping again only for a
// vertex strictly inside (so four points on one circle flip once and stop).
void Legalize(model::ObjectPhotoMesh& mesh, model::MeshTriangle* triangle, int k);

// Flips the edges that cross the segment `constraint` (from -> to) until the segment is a side
// of the triangulation, and marks it and its twin constrained. A segment that passes exactly
// through other vertices is recovered piece by piece between them. Work is bounded: edges that
// never become flippable leave the segment unrecovered.
void RecoverSegment(model::ObjectPhotoMesh& mesh, model::MeshHalfEdge* constraint);

// Builds the mesh's triangles from its vertices and constraint segments: a Delaunay-style
// triangulation in the plane of x and y, with the constraint segments recovered as sides, and
// without every triangle outside the closed rings of constraints. Fewer than three vertices
// give no triangles. Vertices are inserted in `vertices` order, each into the first triangle
// of the collection (newest first) that holds it, which also decides between the two triangles
// of a side it lies on; one that falls in no triangle stays unconnected. Triangles left from an
// earlier run are destroyed first.
void Triangulate(model::ObjectPhotoMesh& mesh);

}  // namespace modrin::mesh
