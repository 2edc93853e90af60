#include "engine/face_finder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <queue>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/geometry/vec.h"

namespace modrin::engine {
namespace {

using model::ImagePoint;
using model::Position;
using Side = std::pair<Vec2, Vec2>;  // pixel points of a directed side, (from, to)

Vec2 ToVec(const ImagePoint& point) {
  return {static_cast<double>(point.x), static_cast<double>(point.y)};
}

// Whether the test point beside the side a -> b (0.1 pixel to its left, seen along the travel)
// lies inside the outline made of `sides`. A horizontal ray goes from the test point towards +x
// and counts the sides it crosses. A side counts when the ray's y lies in [min y, max y) of
// its ends, so a ray through an outline vertex counts the two sides meeting there once when
// the outline passes through and zero or two times when it only touches; horizontal sides never
// count.
bool TestPointInside(const Vec2& a, const Vec2& b, const std::vector<Side>& sides) {
  Vec2 test{(a.x + b.x) / 2, (a.y + b.y) / 2};
  if (a.y != b.y) {
    test.x += b.y > a.y ? -0.1 : 0.1;
  } else {
    test.y += b.x > a.x ? 0.1 : -0.1;
  }
  int crossings = 0;
  for (const auto& [x, y] : sides) {
    if (x.y == y.y) continue;
    if (test.y < std::min(x.y, y.y) || test.y >= std::max(x.y, y.y)) continue;
    const double t = (test.y - x.y) / (y.y - x.y);
    if (x.x + t * (y.x - x.x) > test.x) ++crossings;
  }
  return crossings % 2 == 1;
}

// The photo (index below `photoCount`) in which every one of `corners` is marked and their
// pixel bounding box has the largest area; the first one on ties, -1 when no area exceeds 0.
int BestPhoto(const std::vector<const Position*>& corners, std::size_t photoCount) {
  if (corners.empty()) return -1;
  // The image points of each corner are walked in step, ascending photo index.
  std::vector<std::map<std::int32_t, ImagePoint>::const_iterator> next;
  for (const Position* corner : corners) next.push_back(corner->imagePoints.begin());
  int best = -1;
  std::uint64_t bestArea = 0;
  for (const auto& [q, first] : corners.front()->imagePoints) {
    if (q < 0) continue;
    if (static_cast<std::size_t>(q) >= photoCount) break;
    std::int64_t minX = first.x, maxX = first.x, minY = first.y, maxY = first.y;
    bool everyCorner = true;
    for (std::size_t k = 1; k < corners.size() && everyCorner; ++k) {
      auto& it = next[k];
      const auto end = corners[k]->imagePoints.end();
      while (it != end && it->first < q) ++it;
      everyCorner = it != end && it->first == q;
      if (!everyCorner) break;
      minX = std::min<std::int64_t>(minX, it->second.x);
      maxX = std::max<std::int64_t>(maxX, it->second.x);
      minY = std::min<std::int64_t>(minY, it->second.y);
      maxY = std::max<std::int64_t>(maxY, it->second.y);
    }
    if (!everyCorner) continue;
    // Each extent is below 2^32, so the product fits in 64 unsigned bits.
    const std::uint64_t area =
        static_cast<std::uint64_t>(maxY - minY) * static_cast<std::uint64_t>(maxX - minX);
    if (area > bestArea) {
      bestArea = area;
      best = q;
    }
  }
  return best;
}

std::size_t PhotoCount(const model::PositionGraph& graph) {
  return graph.photos != nullptr ? graph.photos->size() : 0;
}

// The state of one FindFaces run over a snapshot of the adjacency.
//
// Entries are numbered in scan order (their ranks); the entries of one vertex form one run of
// ranks. Tracing only ever removes entries, which allows the scan to skip the retries the plain
// "start again from the first entry after each accepted face" would make: at every step a trace
// takes the first entry with the smallest angle among the vertex's remaining entries. Removing
// other entries keeps that choice, and removing entries from a list with no candidate keeps it
// without one. So a trace that failed, or closed and was rejected, fails again for as long as
// every entry it walked remains, and only the traces that walked an entry of an accepted face
// need another try. When a rejected trace is a cycle of choices, the trace from each of its
// entries walks the same cycle to the same rejected face, so they are all settled at once. The
// scan keeps every entry whose outcome may have changed as pending and always tries the lowest
// pending rank; every entry before it would fail, which makes it the entry the plain scan would
// accept next.
class Scan {
 public:
  Scan(FaceFinder& finder, int photo) : finder_(finder), photo_(photo) {
    Snapshot();
    LoadPoints();
  }

  void Run() {
    for (;;) {
      const int rank = NextPending();
      if (rank < 0) return;
      pending_[rank] = 0;
      const Outcome outcome = Trace(rank);
      if (outcome == Outcome::kNeverFits) continue;
      if (outcome == Outcome::kClosed && Accepts()) {
        Accept();
        continue;
      }
      // A rejected cycle is rejected from each of its entries: all of them are settled at once.
      Remember(outcome == Outcome::kClosed && WalkIsCycle());
    }
  }

 private:
  enum class Outcome { kNeverFits, kFails, kClosed };

  // Numbers the entries and vertices of the adjacency.
  void Snapshot() {
    const std::size_t count = finder_.adjacency.size();
    entries_.reserve(count);
    from_.reserve(count);
    to_.reserve(count);
    std::unordered_map<std::int32_t, int> index;
    auto vertex = [&](std::int32_t id) {
      auto [it, added] = index.try_emplace(id, static_cast<int>(ids_.size()));
      if (added) {
        ids_.push_back(id);
        runBegin_.push_back(0);
        runEnd_.push_back(0);
      }
      return it->second;
    };
    for (auto it = finder_.adjacency.begin(); it != finder_.adjacency.end(); ++it) {
      const int rank = static_cast<int>(entries_.size());
      const int a = vertex(it->first);
      if (runEnd_[a] == 0) runBegin_[a] = rank;
      runEnd_[a] = rank + 1;
      entries_.push_back(it);
      from_.push_back(a);
      to_.push_back(vertex(it->second));
    }
    alive_.assign(count, 1);
    pending_.assign(count, 1);
    watchHead_.assign(count, -1);
    mark_.assign(ids_.size(), 0);
  }

  void LoadPoints() {
    const auto& positions = finder_.graph.positions;
    position_.assign(ids_.size(), nullptr);
    hasPoint_.assign(ids_.size(), 0);
    point_.assign(ids_.size(), {});
    for (std::size_t v = 0; v < ids_.size(); ++v) {
      auto it = positions.find(ids_[v]);
      if (it == positions.end()) continue;
      position_[v] = &it->second;
      auto pointIt = it->second.imagePoints.find(photo_);
      if (pointIt == it->second.imagePoints.end()) continue;
      hasPoint_[v] = 1;
      point_[v] = pointIt->second;
    }
  }

  // The lowest pending rank that is still in the adjacency, -1 when none is left. Ranks at or
  // beyond the sweep are pending unless a rejected cycle settled them; ranks below it that
  // became pending again sit in the queue.
  int NextPending() {
    while (!requeued_.empty()) {
      const int rank = requeued_.top();
      requeued_.pop();
      if (pending_[rank] && alive_[rank]) return rank;
    }
    while (sweep_ < static_cast<int>(entries_.size())) {
      const int rank = sweep_++;
      if (pending_[rank] && alive_[rank]) return rank;
    }
    return -1;
  }

  // Traces from entry `rank`; walk_ gets the entries taken, starting with `rank`.
  Outcome Trace(int rank) {
    walk_.assign(1, rank);
    const int a = from_[rank];
    // Image points never change, so such an entry never starts a trace in this photo.
    if (!hasPoint_[a] || !hasPoint_[to_[rank]]) return Outcome::kNeverFits;
    ++stamp_;
    mark_[a] = stamp_;
    mark_[to_[rank]] = stamp_;
    int prev = a;
    int cur = to_[rank];
    for (;;) {
      const int chosen = Choose(prev, cur);
      if (chosen < 0) return Outcome::kFails;
      walk_.push_back(chosen);
      const int c = to_[chosen];
      if (c == a) return Outcome::kClosed;
      if (mark_[c] == stamp_) return Outcome::kFails;
      mark_[c] = stamp_;
      prev = cur;
      cur = c;
    }
  }

  // The entry cur -> c the trace takes after arriving from prev: the first remaining one with
  // the smallest turning angle among those whose end is marked away from prev; -1 for none.
  int Choose(int prev, int cur) const {
    const ImagePoint& prevPoint = point_[prev];
    const Vec2 curPoint = ToVec(point_[cur]);
    const double back = (ToVec(prevPoint) - curPoint).Angle();
    int chosen = -1;
    double best = 0;
    for (int e = runBegin_[cur]; e < runEnd_[cur]; ++e) {
      const int c = to_[e];
      if (!alive_[e] || !hasPoint_[c] || point_[c] == prevPoint) continue;
      double d = back - (ToVec(point_[c]) - curPoint).Angle();
      if (d > twoPi_) d -= twoPi_;
      if (d < 0) d += twoPi_;
      if (chosen < 0 || d < best) {
        chosen = e;
        best = d;
      }
    }
    return chosen;
  }

  // Whether the closed walk_ is what the trace from any of its entries walks: each step is the
  // choice its predecessor makes, including the step back into the start entry, and no corner
  // repeats (a self-loop start does).
  bool WalkIsCycle() const {
    const int start = walk_.front();
    if (from_[start] == to_[start]) return false;
    return Choose(from_[walk_.back()], from_[start]) == start;
  }

  bool Accepts() const {
    // The first side in (from id, to id) order places the test point.
    auto ids = [this](int e) { return std::pair(ids_[from_[e]], ids_[to_[e]]); };
    std::vector<Side> sides;
    sides.reserve(walk_.size());
    int first = walk_[0];
    for (int e : walk_) {
      sides.emplace_back(ToVec(point_[from_[e]]), ToVec(point_[to_[e]]));
      if (ids(e) < ids(first)) first = e;
    }
    if (!TestPointInside(ToVec(point_[from_[first]]), ToVec(point_[to_[first]]), sides)) {
      return false;
    }
    std::vector<const Position*> corners;
    corners.reserve(walk_.size());
    for (int e : walk_) corners.push_back(position_[from_[e]]);
    return BestPhoto(corners, PhotoCount(finder_.graph)) == photo_;
  }

  // Inserts the traced face and takes the first remaining entry x -> y of each side (x, y) out
  // of the adjacency; the traces that walked a removed entry become pending again.
  void Accept() {
    Face face;
    face.photo = photo_;
    face.graph = &finder_.graph;
    for (int e : walk_) {
      face.vertexIds.insert(ids_[from_[e]]);
      face.vertexIds.insert(ids_[to_[e]]);
      face.segments.emplace(ids_[from_[e]], ids_[to_[e]]);
    }
    // The sides of a closed trace are distinct pairs, so removing them in walk order takes the
    // same entries as removing them in side order.
    for (int side : walk_) {
      const int x = from_[side];
      for (int e = runBegin_[x]; e < runEnd_[x]; ++e) {
        if (!alive_[e] || to_[e] != to_[side]) continue;
        Remove(e);
        break;
      }
    }
    finder_.faces.insert(std::move(face));
  }

  void Remove(int rank) {
    alive_[rank] = 0;
    finder_.adjacency.erase(entries_[rank]);
    for (int w = watchHead_[rank]; w >= 0; w = watches_[w].next) {
      const Group& group = groups_[watches_[w].group];
      for (int i = group.begin; i < group.end; ++i) {
        const int retry = groupRanks_[i];
        if (pending_[retry] || !alive_[retry]) continue;
        pending_[retry] = 1;
        if (retry < sweep_) requeued_.push(retry);
      }
    }
    watchHead_[rank] = -1;
  }

  // Settles the trace from walk_[0], or from every entry of walk_ when `wholeWalk`, until an
  // entry of walk_ leaves the adjacency.
  void Remember(bool wholeWalk) {
    const int group = static_cast<int>(groups_.size());
    const std::size_t settled = wholeWalk ? walk_.size() : 1;
    groups_.push_back(
        {static_cast<int>(groupRanks_.size()), static_cast<int>(groupRanks_.size() + settled)});
    for (std::size_t i = 0; i < settled; ++i) {
      groupRanks_.push_back(walk_[i]);
      pending_[walk_[i]] = 0;
    }
    for (int e : walk_) {
      watches_.push_back({group, watchHead_[e]});
      watchHead_[e] = static_cast<int>(watches_.size()) - 1;
    }
  }

  struct Group {
    int begin;  // range in groupRanks_
    int end;
  };
  struct Watch {
    int group;
    int next;  // next watch of the same entry, -1 at the end
  };

  FaceFinder& finder_;
  const int photo_;
  const double twoPi_ = TwoPi();

  // Per vertex (dense index).
  std::vector<std::int32_t> ids_;
  std::vector<int> runBegin_;
  std::vector<int> runEnd_;
  std::vector<const Position*> position_;
  std::vector<char> hasPoint_;
  std::vector<ImagePoint> point_;  // in the scanned photo
  std::vector<unsigned> mark_;     // == stamp_: on the current trace
  unsigned stamp_ = 0;

  // Per entry (rank).
  std::vector<std::multimap<std::int32_t, std::int32_t>::iterator> entries_;
  std::vector<int> from_;
  std::vector<int> to_;
  std::vector<char> alive_;
  std::vector<char> pending_;
  std::vector<int> watchHead_;

  std::vector<Group> groups_;
  std::vector<int> groupRanks_;
  std::vector<Watch> watches_;
  std::priority_queue<int, std::vector<int>, std::greater<>> requeued_;
  int sweep_ = 0;
  std::vector<int> walk_;
};

}  // namespace

bool FaceOrder::operator()(const Face& a, const Face& b) const {
  if (a.vertexIds.size() != b.vertexIds.size()) return a.vertexIds.size() < b.vertexIds.size();
  return a.vertexIds < b.vertexIds;
}

void FaceFinder::BuildAdjacency() {
  adjacency.clear();
  for (const auto& [id, edge] : graph.edges) {
    std::int32_t a = 0, b = 0;
    if (!graph.GetEdge(id, a, b)) continue;
    // A multimap inserts after the equal keys, so each vertex keeps its entries in edge order.
    adjacency.emplace(a, b);
    adjacency.emplace(b, a);
  }
}

void FaceFinder::FindFaces(int p) {
  if (adjacency.empty()) return;
  Scan(*this, p).Run();
}

bool FaceFinder::IsOutlineInterior(const Face& face) const {
  if (face.segments.empty()) return false;
  std::vector<Side> sides;
  for (const auto& [x, y] : face.segments) {
    ImagePoint from, to;
    if (!graph.GetImagePoint(x, face.photo, from) || !graph.GetImagePoint(y, face.photo, to)) {
      return false;  // a side that cannot be drawn in the photo outlines nothing there
    }
    sides.emplace_back(ToVec(from), ToVec(to));
  }
  return TestPointInside(sides.front().first, sides.front().second, sides);
}

bool FaceFinder::IsBestView(const Face& face) const {
  std::vector<const Position*> corners;
  for (const auto& [x, y] : face.segments) {
    auto it = graph.positions.find(x);
    if (it == graph.positions.end()) return false;  // marked in no photo
    corners.push_back(&it->second);
  }
  return BestPhoto(corners, PhotoCount(graph)) == face.photo;
}

}  // namespace modrin::engine
