#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "model/position_graph.h"

namespace modrin::engine {

// One closed outline of edges traced in one photo.
struct Face {
  int photo = 0;                                             // index of the photo it was traced in
  const model::PositionGraph* graph = nullptr;               // where its image points are looked up
  std::set<std::int32_t> vertexIds;                          // position ids on the outline
  std::set<std::pair<std::int32_t, std::int32_t>> segments;  // directed sides (from, to)
};

// Fewer vertex ids first; equal counts compare the sorted id lists. Faces over the same ids
// are one element.
struct FaceOrder {
  bool operator()(const Face& a, const Face& b) const;
};

// Finds the closed faces outlined by edges in each photo. Lives for one model update: the first
// FindFaces after BuildAdjacency takes in the graph's positions and image points once for all
// photos, so the graph must not change while the finder is used. The adjacency may be read at
// any time; when its size no longer matches what FindFaces left, the next call takes it in
// afresh.
class FaceFinder {
 public:
  explicit FaceFinder(const model::PositionGraph& positionGraph);
  ~FaceFinder();
  FaceFinder(const FaceFinder&) = delete;
  FaceFinder& operator=(const FaceFinder&) = delete;

  // Enters every edge (a, b), in ascending edge id, as a -> b then b -> a.
  void BuildAdjacency();
  // Traces the outlines of photo p, always turning by the smallest angle, and keeps those that
  // enclose their inside on the tested side and are seen best in p. Accepted sides leave the
  // adjacency, so each directed side belongs to at most one face.
  void FindFaces(int p);

  // The test point beside the face's first side lies inside the outline (half-open rule: a
  // crossing through an outline vertex counts once).
  bool IsOutlineInterior(const Face& face) const;
  // The face's own photo is the first of those marking all its corners in which their pixel
  // bounding box has the largest area; false when no photo gives an area above zero.
  bool IsBestView(const Face& face) const;

  // The faces FindFaces accepted in photo p and inserted into `faces`, in `faces` order: the
  // elements of `faces` traced in p, unless `faces` was changed from outside. For a photo of
  // the graph it may be read on another thread while FindFaces works on a later photo.
  std::span<const Face* const> AcceptedFaces(int p) const;

  const model::PositionGraph& graph;
  std::multimap<std::int32_t, std::int32_t> adjacency;  // equal keys keep insertion order
  std::set<Face, FaceOrder> faces;

  // What FindFaces keeps between photos; defined with it.
  struct Snapshot;

 private:
  std::unique_ptr<Snapshot> snapshot_;                // the numbered adjacency and image points
  std::map<int, std::vector<const Face*>> accepted_;  // by photo
};

}  // namespace modrin::engine
