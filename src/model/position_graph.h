#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace modrin::model {

class Photo;

// A pixel in a photo's full-resolution image: x from the left edge, y from the bottom row.
struct ImagePoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const ImagePoint&, const ImagePoint&) = default;
};

// A scene point, marked in one or more photos.
struct Position {
  std::map<std::int32_t, ImagePoint> imagePoints;  // key: photo index
  std::array<double, 3> coords{0, 0, 0};           // world units; meaningful when known
  bool isReal = false;                             // the user typed the coordinates
  bool isComputed = false;  // computed from calibrated photos or placed on an edge
};

// An edge between two positions (ids; they need not exist).
struct Edge {
  std::int32_t first = 0;
  std::int32_t second = 0;
};

// All positions and edges of a project, keyed by ids that are never reused while editing.
// Operations look every id up and do nothing for a missing one; failure shows only in results.
class PositionGraph {
 public:
  using Coords = std::array<double, 3>;

  explicit PositionGraph(const std::vector<std::unique_ptr<Photo>>& projectPhotos)
      : photos(&projectPhotos) {}

  // Inserts an empty position with id lastPositionId + 1. False (nothing inserted) only when
  // the id space is used up.
  bool NewPosition(std::int32_t& id);
  bool IsKnown(std::int32_t id) const;
  bool IsReal(std::int32_t id) const;
  bool GetImagePoint(std::int32_t id, std::int32_t photo, ImagePoint& point) const;
  bool SetImagePoint(std::int32_t id, std::int32_t photo, const ImagePoint& point);
  // Removes the position's point in `photo` and all of its edges, joining the far ends when it
  // had exactly two; erases the position when no point is left (`removed`).
  bool RemoveImagePoint(std::int32_t id, std::int32_t photo, bool& removed);
  // Copies coords into xyz whenever the position exists; true only when they are known.
  bool GetCoords(std::int32_t id, Coords& xyz) const;
  bool SetRealCoords(std::int32_t id, const Coords& xyz);
  // Gives a position clicked on an edge in `photo` the coordinates along that edge.
  bool PlaceOnEdge(std::int32_t photo, std::int32_t edgeId, std::int32_t positionId, Coords& xyz);
  // The next position after `id` (-1: from the first) with a point in `photo` within
  // `tolerance` pixels of `point` on both axes.
  bool FindPositionNear(std::int32_t photo, std::int32_t tolerance, const ImagePoint& point,
                        std::int32_t& id) const;
  // The next edge after `id` passing within `tolerance` pixels of `point` in `photo`.
  bool FindEdgeNear(std::int32_t photo, std::int32_t tolerance, const ImagePoint& point,
                    std::int32_t& id) const;
  // Some edge joins a and b in either order; `id` gets the last such edge in id order.
  bool FindEdge(std::int32_t a, std::int32_t b, std::int32_t& id) const;
  bool GetEdge(std::int32_t id, std::int32_t& a, std::int32_t& b) const;
  // A new edge (min, max) unless a == b or a and b are already joined.
  bool CreateEdge(std::int32_t a, std::int32_t b, std::int32_t& id);
  bool DeleteEdge(std::int32_t id);
  bool SplitEdge(std::int32_t& edgeId, std::int32_t positionId);
  // Replaces `from` by `into` in every edge and erases `from`. False when either is missing.
  bool MergePositions(std::int32_t from, std::int32_t into);
  void InvalidateComputed(std::int32_t id);
  void InvalidateAllComputed();
  void ComputeAll();
  void ComputePosition(std::int32_t id);

  const std::vector<std::unique_ptr<Photo>>* photos;  // the project's photos, not owned
  std::map<std::int32_t, Position> positions;
  std::int32_t lastPositionId = 0;
  std::map<std::int32_t, Edge> edges;
  std::int32_t lastEdgeId = 0;

 private:
  // The photo at that index when it is calibrated and has a picture and a camera model.
  const Photo* MappablePhoto(std::int32_t photo) const;
};

}  // namespace modrin::model
