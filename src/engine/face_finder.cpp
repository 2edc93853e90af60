#include "engine/face_finder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <queue>
#include <span>
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

// One image point of a vertex: the photo index and the pixel.
struct PhotoPoint {
  std::int32_t photo = 0;
  ImagePoint point;
};
using PhotoPoints = std::span<const PhotoPoint>;  // ascending photo index

// Calls visit(q, area) for every photo q below `photoCount`, ascending, in which every one of
// `corners` is marked, with the area of their pixel bounding box there, until visit returns
// true. `next` is scratch space. Returns whether visit did.
template <typename Visit>
bool VisitCommonPhotos(std::span<const PhotoPoints> corners, std::size_t photoCount,
                       std::vector<std::size_t>& next, Visit visit) {
  if (corners.empty()) return false;
  // The image points of each corner are walked in step, ascending photo index.
  next.assign(corners.size(), 0);
  for (const auto& [q, first] : corners.front()) {
    if (q < 0) continue;
    if (static_cast<std::size_t>(q) >= photoCount) break;
    std::int64_t minX = first.x, maxX = first.x, minY = first.y, maxY = first.y;
    bool everyCorner = true;
    for (std::size_t k = 1; k < corners.size() && everyCorner; ++k) {
      const PhotoPoints points = corners[k];
      std::size_t& at = next[k];
      while (at < points.size() && points[at].photo < q) ++at;
      everyCorner = at < points.size() && points[at].photo == q;
      if (!everyCorner) break;
      const ImagePoint& point = points[at].point;
      minX = std::min<std::int64_t>(minX, point.x);
      maxX = std::max<std::int64_t>(maxX, point.x);
      minY = std::min<std::int64_t>(minY, point.y);
      maxY = std::max<std::int64_t>(maxY, point.y);
    }
    if (!everyCorner) continue;
    // Each extent is below 2^32, so the product fits in 64 unsigned bits.
    const std::uint64_t area =
        static_cast<std::uint64_t>(maxY - minY) * static_cast<std::uint64_t>(maxX - minX);
    if (visit(q, area)) return true;
  }
  return false;
}

// The photo (index below `photoCount`) in which every one of `corners` is marked and their
// pixel bounding box has the largest area; the first one on ties, -1 when no area exceeds 0.
int BestPhoto(std::span<const PhotoPoints> corners, std::size_t photoCount,
              std::vector<std::size_t>& next) {
  int best = -1;
  std::uint64_t bestArea = 0;
  VisitCommonPhotos(corners, photoCount, next, [&](int q, std::uint64_t area) {
    if (area > bestArea) {
      bestArea = area;
      best = q;
    }
    return false;
  });
  return best;
}

// Whether a photo other than p would be BestPhoto of `corners` against p's `area`: an earlier
// one with an area at least as large, or a later one with a larger area.
bool AnyPhotoBeats(std::span<const PhotoPoints> corners, std::size_t photoCount, int p,
                   std::uint64_t area, std::vector<std::size_t>& next) {
  return VisitCommonPhotos(corners, photoCount, next, [&](int q, std::uint64_t other) {
    return q < p ? other >= area : q > p && other > area;
  });
}

std::size_t PhotoCount(const model::PositionGraph& graph) {
  return graph.photos != nullptr ? graph.photos->size() : 0;
}

}  // namespace

// The adjacency with its entries and vertices numbered, the image points of every vertex in
// flat arrays, and the work space of one photo's scan. Made by the first FindFaces after
// BuildAdjacency and kept for the later photos, whose scans only ever remove entries.
//
// Entries are numbered in scan order (their ranks); the entries of one vertex form one run of
// ranks.
struct FaceFinder::Snapshot {
  using Entry = std::multimap<std::int32_t, std::int32_t>::iterator;

  Snapshot(std::multimap<std::int32_t, std::int32_t>& adjacency,
           const model::PositionGraph& graph) {
    const std::size_t count = adjacency.size();
    entries.reserve(count);
    from.reserve(count);
    to.assign(count, -1);
    // The keys ascend, so the vertices that start entries are numbered in id order.
    for (auto it = adjacency.begin(); it != adjacency.end(); ++it) {
      const int rank = static_cast<int>(entries.size());
      if (ids.empty() || ids.back() != it->first) {
        ids.push_back(it->first);
        runBegin.push_back(rank);
        runEnd.push_back(rank);
      }
      ++runEnd.back();
      entries.push_back(it);
      from.push_back(static_cast<int>(ids.size()) - 1);
    }
    const std::size_t starts = ids.size();
    // Every edge enters both directions, so an end that starts no entry remains only where the
    // adjacency was changed from outside; such ends follow, numbered as met.
    std::map<std::int32_t, int> others;
    for (std::size_t e = 0; e < count; ++e) {
      const std::int32_t id = entries[e]->second;
      auto at =
          std::lower_bound(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(starts), id);
      if (at != ids.begin() + static_cast<std::ptrdiff_t>(starts) && *at == id) {
        to[e] = static_cast<int>(at - ids.begin());
        continue;
      }
      auto [other, added] = others.try_emplace(id, static_cast<int>(ids.size()));
      if (added) {
        ids.push_back(id);
        runBegin.push_back(0);
        runEnd.push_back(0);
      }
      to[e] = other->second;
    }
    alive.assign(count, 1);
    aliveCount = count;

    // An entry b -> a for each a -> b, whose angle is the reverse's.
    reverse.assign(count, -1);
    for (std::size_t e = 0; e < count; ++e) {
      const int b = to[e];
      for (int r = runBegin[b]; r < runEnd[b]; ++r) {
        if (to[r] == from[e]) {
          reverse[e] = r;
          break;
        }
      }
    }

    // The starting vertices ascend in id, like the positions.
    pointsBegin.assign(ids.size() + 1, 0);
    auto position = graph.positions.begin();
    for (std::size_t v = 0; v < ids.size(); ++v) {
      pointsBegin[v] = points.size();
      if (v < starts) {
        while (position != graph.positions.end() && position->first < ids[v]) ++position;
        if (position == graph.positions.end() || position->first != ids[v]) continue;
        for (const auto& [photo, point] : position->second.imagePoints) {
          points.push_back({photo, point});
        }
      } else if (auto it = graph.positions.find(ids[v]); it != graph.positions.end()) {
        for (const auto& [photo, point] : it->second.imagePoints) points.push_back({photo, point});
      }
    }
    pointsBegin[ids.size()] = points.size();
    mark.assign(ids.size(), 0);
  }

  PhotoPoints PointsOf(int v) const {
    return PhotoPoints(points).subspan(pointsBegin[v], pointsBegin[v + 1] - pointsBegin[v]);
  }

  // Per entry (rank).
  std::vector<Entry> entries;
  std::vector<int> from;
  std::vector<int> to;
  std::vector<char> alive;
  std::size_t aliveCount = 0;
  std::vector<int> reverse;  // an entry to -> from, -1 for none

  // Per vertex (dense index).
  std::vector<std::int32_t> ids;
  std::vector<int> runBegin;
  std::vector<int> runEnd;
  std::vector<std::size_t> pointsBegin;  // its image points: points[pointsBegin[v], [v + 1])
  std::vector<PhotoPoint> points;

  // The scan of one photo; kept only for the memory.
  std::vector<char> hasPoint;
  std::vector<ImagePoint> point;  // in the scanned photo
  std::vector<unsigned> mark;     // == stamp: on the current trace
  unsigned stamp = 0;
  std::vector<double> angle;      // per entry: Angle of (to - from) in the photo, NaN: not yet
  std::vector<double> backAngle;  // per entry without a reverse: Angle of (from - to)
  std::vector<char> pending;
  std::vector<int> watchHead;
  struct Group {
    int begin;  // range in groupRanks
    int end;
  };
  struct Watch {
    int group;
    int next;  // next watch of the same entry, -1 at the end
  };
  std::vector<Group> groups;
  std::vector<int> groupRanks;
  std::vector<Watch> watches;
  std::priority_queue<int, std::vector<int>, std::greater<>> requeued;
  std::vector<int> walk;
  std::vector<Side> sides;
  std::vector<PhotoPoints> corners;
  std::vector<std::size_t> cornerSteps;
};

namespace {

// One FindFaces run over the snapshot.
//
// Tracing only ever removes entries, which allows the scan to skip the retries the plain
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
  using Snapshot = FaceFinder::Snapshot;

  Scan(FaceFinder& finder, Snapshot& snapshot, int photo, std::vector<const Face*>& accepted)
      : finder_(finder), s_(snapshot), photo_(photo), accepted_(accepted) {
    LoadPoints();
    const std::size_t count = s_.entries.size();
    s_.angle.assign(count, std::numeric_limits<double>::quiet_NaN());
    s_.backAngle.assign(count, std::numeric_limits<double>::quiet_NaN());
    s_.pending.assign(count, 1);
    s_.watchHead.assign(count, -1);
    s_.groups.clear();
    s_.groupRanks.clear();
    s_.watches.clear();
  }

  void Run() {
    for (;;) {
      const int rank = NextPending();
      if (rank < 0) return;
      s_.pending[rank] = 0;
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

  void LoadPoints() {
    const std::size_t count = s_.ids.size();
    s_.hasPoint.assign(count, 0);
    s_.point.assign(count, {});
    for (std::size_t v = 0; v < count; ++v) {
      for (const PhotoPoint& point : s_.PointsOf(static_cast<int>(v))) {
        if (point.photo < photo_) continue;
        if (point.photo == photo_) {
          s_.hasPoint[v] = 1;
          s_.point[v] = point.point;
        }
        break;
      }
    }
  }

  // The lowest pending rank that is still in the adjacency, -1 when none is left. Ranks at or
  // beyond the sweep are pending unless a rejected cycle settled them; ranks below it that
  // became pending again sit in the queue.
  int NextPending() {
    while (!s_.requeued.empty()) {
      const int rank = s_.requeued.top();
      s_.requeued.pop();
      if (s_.pending[rank] && s_.alive[rank]) return rank;
    }
    while (sweep_ < static_cast<int>(s_.entries.size())) {
      const int rank = sweep_++;
      if (s_.pending[rank] && s_.alive[rank]) return rank;
    }
    return -1;
  }

  // Traces from entry `rank`; walk gets the entries taken, starting with `rank`.
  Outcome Trace(int rank) {
    s_.walk.assign(1, rank);
    const int a = s_.from[rank];
    const int b = s_.to[rank];
    // Image points never change, so such an entry never starts a trace in this photo.
    if (!s_.hasPoint[a] || !s_.hasPoint[b]) return Outcome::kNeverFits;
    if (++s_.stamp == 0) {
      std::fill(s_.mark.begin(), s_.mark.end(), 0);
      s_.stamp = 1;
    }
    s_.mark[a] = s_.stamp;
    s_.mark[b] = s_.stamp;
    int arrival = rank;
    for (;;) {
      const int chosen = Choose(arrival);
      if (chosen < 0) return Outcome::kFails;
      s_.walk.push_back(chosen);
      const int c = s_.to[chosen];
      if (c == a) return Outcome::kClosed;
      if (s_.mark[c] == s_.stamp) return Outcome::kFails;
      s_.mark[c] = s_.stamp;
      arrival = chosen;
    }
  }

  // Angle of (to - from) of entry e, and of (from - to), in the scanned photo. Both ends are
  // marked in it.
  double Forward(int e) {
    double& angle = s_.angle[e];
    if (std::isnan(angle))
      angle = (ToVec(s_.point[s_.to[e]]) - ToVec(s_.point[s_.from[e]])).Angle();
    return angle;
  }
  double Backward(int e) {
    // The same difference of the same points as the reverse entry's forward angle.
    if (s_.reverse[e] >= 0) return Forward(s_.reverse[e]);
    double& angle = s_.backAngle[e];
    if (std::isnan(angle))
      angle = (ToVec(s_.point[s_.from[e]]) - ToVec(s_.point[s_.to[e]])).Angle();
    return angle;
  }

  // The entry cur -> c the trace takes after arriving along the entry prev -> cur: the first
  // remaining one with the smallest turning angle among those whose end is marked away from
  // prev; -1 for none.
  int Choose(int arrival) {
    const int prev = s_.from[arrival];
    const int cur = s_.to[arrival];
    const ImagePoint& prevPoint = s_.point[prev];
    const double back = Backward(arrival);
    int chosen = -1;
    double best = 0;
    for (int e = s_.runBegin[cur]; e < s_.runEnd[cur]; ++e) {
      const int c = s_.to[e];
      if (!s_.alive[e] || !s_.hasPoint[c] || s_.point[c] == prevPoint) continue;
      double d = back - Forward(e);
      if (d > twoPi_) d -= twoPi_;
      if (d < 0) d += twoPi_;
      if (chosen < 0 || d < best) {
        chosen = e;
        best = d;
      }
    }
    return chosen;
  }

  // Whether the closed walk is what the trace from any of its entries walks: each step is the
  // choice its predecessor makes, including the step back into the start entry, and no corner
  // repeats (a self-loop start does).
  bool WalkIsCycle() {
    const int start = s_.walk.front();
    if (s_.from[start] == s_.to[start]) return false;
    return Choose(s_.walk.back()) == start;
  }

  bool Accepts() {
    // The first side in (from id, to id) order places the test point.
    auto ids = [this](int e) { return std::pair(s_.ids[s_.from[e]], s_.ids[s_.to[e]]); };
    s_.sides.clear();
    int first = s_.walk[0];
    for (int e : s_.walk) {
      s_.sides.emplace_back(ToVec(s_.point[s_.from[e]]), ToVec(s_.point[s_.to[e]]));
      if (ids(e) < ids(first)) first = e;
    }
    if (!TestPointInside(ToVec(s_.point[s_.from[first]]), ToVec(s_.point[s_.to[first]]),
                         s_.sides)) {
      return false;
    }
    s_.corners.clear();
    for (int e : s_.walk) s_.corners.push_back(s_.PointsOf(s_.from[e]));
    return IsBest();
  }

  // Whether BestPhoto of the walk's corners is the scanned photo. The area there comes from the
  // loaded points, and the first photo that beats it ends the search.
  bool IsBest() {
    const std::size_t photoCount = PhotoCount(finder_.graph);
    if (photo_ < 0 || static_cast<std::size_t>(photo_) >= photoCount) {
      return BestPhoto(s_.corners, photoCount, s_.cornerSteps) == photo_;
    }
    std::int64_t minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (std::size_t k = 0; k < s_.walk.size(); ++k) {
      const ImagePoint& point = s_.point[s_.from[s_.walk[k]]];
      if (k == 0) {
        minX = maxX = point.x;
        minY = maxY = point.y;
      }
      minX = std::min<std::int64_t>(minX, point.x);
      maxX = std::max<std::int64_t>(maxX, point.x);
      minY = std::min<std::int64_t>(minY, point.y);
      maxY = std::max<std::int64_t>(maxY, point.y);
    }
    const std::uint64_t area =
        static_cast<std::uint64_t>(maxY - minY) * static_cast<std::uint64_t>(maxX - minX);
    if (area == 0) return false;
    // An earlier photo wins with an equal area, a later one only with a larger area.
    return !AnyPhotoBeats(s_.corners, photoCount, photo_, area, s_.cornerSteps);
  }

  // Inserts the traced face and takes the first remaining entry x -> y of each side (x, y) out
  // of the adjacency; the traces that walked a removed entry become pending again.
  void Accept() {
    Face face;
    face.photo = photo_;
    face.graph = &finder_.graph;
    for (int e : s_.walk) {
      face.vertexIds.insert(s_.ids[s_.from[e]]);
      face.vertexIds.insert(s_.ids[s_.to[e]]);
      face.segments.emplace(s_.ids[s_.from[e]], s_.ids[s_.to[e]]);
    }
    // The sides of a closed trace are distinct pairs, so removing them in walk order takes the
    // same entries as removing them in side order.
    for (int side : s_.walk) {
      const int x = s_.from[side];
      for (int e = s_.runBegin[x]; e < s_.runEnd[x]; ++e) {
        if (!s_.alive[e] || s_.to[e] != s_.to[side]) continue;
        Remove(e);
        break;
      }
    }
    auto [at, inserted] = finder_.faces.insert(std::move(face));
    if (inserted) accepted_.push_back(&*at);
  }

  void Remove(int rank) {
    s_.alive[rank] = 0;
    --s_.aliveCount;
    finder_.adjacency.erase(s_.entries[rank]);
    for (int w = s_.watchHead[rank]; w >= 0; w = s_.watches[w].next) {
      const Snapshot::Group& group = s_.groups[s_.watches[w].group];
      for (int i = group.begin; i < group.end; ++i) {
        const int retry = s_.groupRanks[i];
        if (s_.pending[retry] || !s_.alive[retry]) continue;
        s_.pending[retry] = 1;
        if (retry < sweep_) s_.requeued.push(retry);
      }
    }
    s_.watchHead[rank] = -1;
  }

  // Settles the trace from walk[0], or from every entry of walk when `wholeWalk`, until an
  // entry of walk leaves the adjacency.
  void Remember(bool wholeWalk) {
    const int group = static_cast<int>(s_.groups.size());
    const std::size_t settled = wholeWalk ? s_.walk.size() : 1;
    s_.groups.push_back(
        {static_cast<int>(s_.groupRanks.size()), static_cast<int>(s_.groupRanks.size() + settled)});
    for (std::size_t i = 0; i < settled; ++i) {
      s_.groupRanks.push_back(s_.walk[i]);
      s_.pending[s_.walk[i]] = 0;
    }
    for (int e : s_.walk) {
      s_.watches.push_back({group, s_.watchHead[e]});
      s_.watchHead[e] = static_cast<int>(s_.watches.size()) - 1;
    }
  }

  FaceFinder& finder_;
  Snapshot& s_;
  const int photo_;
  std::vector<const Face*>& accepted_;
  const double twoPi_ = TwoPi();
  int sweep_ = 0;
};

}  // namespace

bool FaceOrder::operator()(const Face& a, const Face& b) const {
  if (a.vertexIds.size() != b.vertexIds.size()) return a.vertexIds.size() < b.vertexIds.size();
  return a.vertexIds < b.vertexIds;
}

FaceFinder::FaceFinder(const model::PositionGraph& positionGraph) : graph(positionGraph) {}

FaceFinder::~FaceFinder() = default;

void FaceFinder::BuildAdjacency() {
  snapshot_.reset();
  adjacency.clear();
  // Every photo's list exists from here on, so that FindFaces of one photo can run while the
  // accepted faces of photos done before are read on other threads.
  for (std::size_t p = 0; p < PhotoCount(graph); ++p) accepted_.try_emplace(static_cast<int>(p));
  // Sorting the entries by their start, keeping the edge order among equal starts, gives the
  // multimap's order; each then goes in at the end without a search.
  std::vector<std::pair<std::int32_t, std::int32_t>> entries;
  entries.reserve(2 * graph.edges.size());
  for (const auto& [id, edge] : graph.edges) {
    entries.emplace_back(edge.first, edge.second);
    entries.emplace_back(edge.second, edge.first);
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  for (const auto& [a, b] : entries) adjacency.emplace_hint(adjacency.end(), a, b);
}

void FaceFinder::FindFaces(int p) {
  if (adjacency.empty()) return;
  if (!snapshot_ || snapshot_->aliveCount != adjacency.size()) {
    snapshot_ = std::make_unique<Snapshot>(adjacency, graph);
  }
  std::vector<const Face*>& accepted = accepted_[p];
  const std::size_t before = accepted.size();
  Scan(*this, *snapshot_, p, accepted).Run();
  if (accepted.size() != before) {
    const FaceOrder order;
    std::sort(accepted.begin(), accepted.end(),
              [&](const Face* a, const Face* b) { return order(*a, *b); });
  }
}

std::span<const Face* const> FaceFinder::AcceptedFaces(int p) const {
  auto it = accepted_.find(p);
  if (it == accepted_.end()) return {};
  return it->second;
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
  std::vector<std::vector<PhotoPoint>> points;
  for (const auto& [x, y] : face.segments) {
    auto it = graph.positions.find(x);
    if (it == graph.positions.end()) return false;  // marked in no photo
    auto& corner = points.emplace_back();
    for (const auto& [photo, point] : it->second.imagePoints) corner.push_back({photo, point});
  }
  std::vector<PhotoPoints> corners(points.begin(), points.end());
  std::vector<std::size_t> steps;
  return BestPhoto(corners, PhotoCount(graph), steps) == face.photo;
}

}  // namespace modrin::engine
