#include "engine/calibration.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <thread>

#include "engine/geometry/lines.h"
#include "engine/parallel_work.h"
#include "engine/pose_polish.h"
#include "engine/progress.h"
#include "images/camera_database.h"

namespace modrin::engine {
namespace {

constexpr double kLargest = std::numeric_limits<double>::max();
constexpr double kLowest = std::numeric_limits<double>::lowest();
// Upper bound of grid values per axis, against a step too small for the range.
constexpr std::size_t kMaxAxisValues = 1 << 12;
// The search's refined candidates polished after its best: a wrong best pose usually has the
// right one among the next few.
constexpr std::size_t kOtherSearchCandidates = 3;
// A start replaces the pose held only when it lowers the mark fit by this share of it, and by
// this much at least (normalized units squared, about a hundredth of a pixel once).
constexpr double kClearlyBetterShare = 1e-3;
constexpr double kClearlyBetterSum = 1e-10;
// A polished start is accepted whatever its ray error when the root-mean-square reprojection
// error of its marks is at most kFitAcceptance (normalized units, a share of the image's width
// or height: 6 pixels of a 1200-pixel-wide photo) and at most kFitShareOfSpread of the marks'
// root-mean-square distance from their centre.
constexpr double kFitAcceptance = 0.005;
constexpr double kFitShareOfSpread = 0.05;
// A mark of a fourth point tells three-point poses apart when they fit it this many pixels
// apart.
constexpr double kDistinguishingPixels = 1.0;

// Measure values at one grid point, indexed like kMeasureFlags.
using MeasureValues = std::array<double, 3>;
constexpr std::array<unsigned, 3> kMeasureFlags{kAngleError, kLengthError, kRayError};

// The value a search ranks by: the last measure of its set.
std::size_t RankingIndex(unsigned flags) {
  std::size_t index = 0;
  for (std::size_t m = 0; m < kMeasureFlags.size(); ++m) {
    if (flags & kMeasureFlags[m]) index = m;
  }
  return index;
}

struct Pose {
  Vec3 translation;
  Vec3 orientation;
};

Pose PoseOf(const CameraRecord& camera) { return {camera.translation, camera.orientation}; }

void SetPose(CameraRecord& camera, const Pose& pose) {
  camera.translation = pose.translation;
  camera.orientation = pose.orientation;
}

// The grid values of one axis: from centre - half while below centre + half, advancing by
// repeated addition so that rounding decides the count exactly as a plain loop would.
std::vector<double> AxisValues(double centre, double half, double step) {
  std::vector<double> values;
  if (!(step > 0) || !std::isfinite(centre - half)) return values;
  for (double a = centre - half; a < centre + half && values.size() < kMaxAxisValues; a += step) {
    values.push_back(a);
    if (a + step == a) break;  // a step lost in rounding would never reach the end
  }
  return values;
}

struct Grid {
  std::vector<double> pitches, yaws, rolls;
};

Grid GridAround(const Vec3& centre, const Vec3& range, const Vec3& steps) {
  const Vec3 step = ComponentwiseQuotient(range, steps);
  const Vec3 half = range / 2;
  return {AxisValues(centre.x, half.x, step.x), AxisValues(centre.z, half.z, step.z),
          AxisValues(centre.y, half.y, step.y)};
}

// What one thread needs to evaluate poses: a camera to move (same sensor and focal length,
// no correspondences) and room for the lines and projections of one pose.
struct Workspace {
  CameraRecord camera;
  std::vector<Line3> lines;
  std::vector<Vec2> projected;
};

// Everything about a camera's correspondences that does not depend on the pose, and the
// evaluation of one pose. It never changes, so several threads can evaluate poses at once,
// each in its own workspace.
class PoseEvaluator {
 public:
  explicit PoseEvaluator(const CameraRecord& camera) : camera_(camera) {
    for (const Correspondence& c : camera.correspondences) {
      if (!IsFullyKnown(c.real)) continue;
      known_.push_back(c);
      imagePlane_.push_back({c.image.x * camera.cameraEntry->cellWidth, camera.focal,
                             c.image.y * camera.cameraEntry->cellHeight});
    }
    for (std::size_t i = 0; i < known_.size(); ++i) {
      for (std::size_t j = i + 1; j < known_.size(); ++j) {
        const Vec2 measured = known_[i].image - known_[j].image;
        measuredAngles_.push_back(measured.Angle());
        measuredLengths_.push_back(measured.SquaredLength());
      }
    }
  }

  // A workspace whose camera has the same sensor, focal length and pose.
  Workspace NewWorkspace() const {
    Workspace work;
    work.camera.cameraEntry = camera_.cameraEntry;
    work.camera.focal = camera_.focal;
    SetPose(work.camera, PoseOf(camera_));
    return work;
  }

  // The mean of the closest points between the lines through each fully known real point
  // parallel to its viewing ray. Pairs of parallel lines take no part.
  Vec3 Translation(const Rotation& rotation, std::vector<Line3>& lines) const {
    lines.clear();
    const Vec3 zero{0, 0, 0};
    for (std::size_t i = 0; i < known_.size(); ++i) {
      // The viewing direction at zero translation: 0 - (R c + 0).
      lines.push_back({known_[i].real, zero - (rotation.Apply(imagePlane_[i]) + zero)});
    }
    Vec3 sum{0, 0, 0};
    int count = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      for (std::size_t j = i + 1; j < lines.size(); ++j) {
        const auto closest = ClosestPointOnLine(lines[i], lines[j]);
        if (!closest) continue;
        sum = sum + *closest;
        ++count;
      }
    }
    return count == 0 ? zero : sum / count;
  }

  // Projects every fully known real point into `projected`; false at the first one behind
  // the image plane or outside the validity window.
  bool Plausible(const CameraRecord& scratch, const Rotation& rotation,
                 std::vector<Vec2>& projected) const {
    projected.clear();
    for (const Correspondence& c : known_) {
      const ImageProjection q = WorldToImage(scratch, rotation, c.real);
      if (!q.inFront || !(std::abs(q.image.x) <= kValidityWindow) ||
          !(std::abs(q.image.y) <= kValidityWindow)) {
        return false;
      }
      projected.push_back(q.image);
    }
    return true;
  }

  // Projects every fully known real point, in front of the camera or not.
  void ProjectAll(const CameraRecord& scratch, const Rotation& rotation,
                  std::vector<Vec2>& projected) const {
    projected.clear();
    for (const Correspondence& c : known_) {
      projected.push_back(WorldToImage(scratch, rotation, c.real).image);
    }
  }

  // The pair measures over the projections of the fully known points.
  double AngleError(const std::vector<Vec2>& projected) const {
    double largest = kLowest;
    std::size_t pair = 0;
    for (std::size_t i = 0; i < projected.size(); ++i) {
      for (std::size_t j = i + 1; j < projected.size(); ++j, ++pair) {
        double d = (projected[i] - projected[j]).Angle() - measuredAngles_[pair];
        while (d < 0) d += TwoPi();
        if (d > Pi()) d = TwoPi() - d;
        largest = std::max(largest, d);
      }
    }
    return largest;
  }

  double LengthError(const std::vector<Vec2>& projected) const {
    double largest = 0;
    std::size_t pair = 0;
    for (std::size_t i = 0; i < projected.size(); ++i) {
      for (std::size_t j = i + 1; j < projected.size(); ++j, ++pair) {
        const double d =
            std::abs((projected[i] - projected[j]).SquaredLength() - measuredLengths_[pair]);
        largest = std::max(largest, d);
      }
    }
    return largest;
  }

  // Over every correspondence with a known height, including those missing x or y. A ray
  // parallel to the height's plane, or an error too large to represent, counts as the largest
  // double, so it can never lower the maximum and nothing non-finite leaves the measure.
  double RayError(const CameraRecord& scratch, const Rotation& rotation) const {
    double largest = 0;
    bool anyHeight = false;
    for (const Correspondence& c : camera_.correspondences) {
      if (c.real.z == UnknownCoordinate) continue;
      anyHeight = true;
      const bool knownX = c.real.x != UnknownCoordinate, knownY = c.real.y != UnknownCoordinate;
      if (!knownX && !knownY) continue;
      const auto g = RayAtHeight(scratch, rotation, c.image.x, c.image.y, c.real.z);
      double error = kLargest;
      if (g) {
        if (knownX && knownY) {
          error = std::sqrt((*g - c.real).SquaredLength());
        } else {
          error = knownX ? std::abs(c.real.x - g->x) : std::abs(c.real.y - g->y);
        }
        if (!std::isfinite(error)) error = kLargest;
      }
      largest = std::max(largest, error);
    }
    return anyHeight ? largest : kLargest;
  }

  // Moves the scratch camera to `orientation` with its estimated translation. When the pose
  // is plausible, fills the measures of `flags` and returns true.
  bool Evaluate(Workspace& work, const Vec3& orientation, unsigned flags,
                MeasureValues& values) const {
    work.camera.orientation = orientation;
    const Rotation rotation = CameraRotation(orientation);
    work.camera.translation = Translation(rotation, work.lines);
    if (!Plausible(work.camera, rotation, work.projected)) return false;
    if (flags & kAngleError) values[0] = AngleError(work.projected);
    if (flags & kLengthError) values[1] = LengthError(work.projected);
    if (flags & kRayError) values[2] = RayError(work.camera, rotation);
    return true;
  }

  double RayErrorAt(const Pose& pose) const {
    Workspace work = NewWorkspace();
    SetPose(work.camera, pose);
    return RayError(work.camera, CameraRotation(pose.orientation));
  }

 private:
  const CameraRecord& camera_;
  std::vector<Correspondence> known_;    // the fully known correspondences, in list order
  std::vector<Vec3> imagePlane_;         // their camera-frame image points
  std::vector<double> measuredAngles_;   // per pair (i < j) of known_
  std::vector<double> measuredLengths_;  // squared lengths, per pair
};

// The stop flag of one solve and the user's cancel request. Only the thread that started the
// solve asks the user, since the display belongs to it; it asks where a single loop would:
// after each plausible grid point and before each refinement level. Items of other threads
// only see the flag.
class Cancel {
 public:
  explicit Cancel(Progress& progress) : progress_(progress), owner_(std::this_thread::get_id()) {}

  bool Stopped() const { return stop_.load(std::memory_order_relaxed); }
  const std::atomic<bool>& flag() const { return stop_; }
  void Poll() const {
    if (std::this_thread::get_id() == owner_ && progress_.CancelRequested()) stop_.store(true);
  }

 private:
  Progress& progress_;
  const std::thread::id owner_;
  mutable std::atomic<bool> stop_{false};
};

struct Candidate {
  Pose pose;
  MeasureValues values{};
};

// The best grid point of a sweep: the first with the smallest ranking value.
struct SweepBest {
  double value = kLargest;
  std::optional<Pose> pose;

  void Offer(double candidateValue, const Pose& candidatePose) {
    if (candidateValue < value) {
      value = candidateValue;
      pose = candidatePose;
    }
  }
};

// Sweeps roll at one pitch and yaw. Records every plausible grid point in `candidates` when
// given. The roll loop does not stop early: a stop ends the sweep after it.
void SweepRoll(const PoseEvaluator& evaluator, Workspace& work, double pitch, double yaw,
               const Grid& grid, unsigned flags, const Cancel& cancel,
               std::vector<Candidate>* candidates, SweepBest& best) {
  const std::size_t ranking = RankingIndex(flags);
  MeasureValues values{};
  for (const double roll : grid.rolls) {
    if (!evaluator.Evaluate(work, {pitch, roll, yaw}, flags, values)) continue;
    const Pose pose = PoseOf(work.camera);
    if (candidates != nullptr) candidates->push_back({pose, values});
    best.Offer(values[ranking], pose);
    cancel.Poll();
  }
}

// A search that keeps no candidates: moves `pose` to its best grid point (unchanged when no
// grid point is plausible) and returns that point's ranking value.
double LocalSearch(const PoseEvaluator& evaluator, Workspace& work, Pose& pose, const Vec3& range,
                   const Vec3& steps, unsigned flags, const Cancel& cancel) {
  const Grid grid = GridAround(pose.orientation, range, steps);
  SweepBest best;
  // Pitch outside, yaw inside it, roll innermost; the pitch and yaw loops end at a stop.
  for (const double pitch : grid.pitches) {
    for (const double yaw : grid.yaws) {
      if (cancel.Stopped()) break;
      SweepRoll(evaluator, work, pitch, yaw, grid, flags, cancel, nullptr, best);
    }
    if (cancel.Stopped()) break;
  }
  if (best.pose) pose = *best.pose;
  return best.value;
}

// The refinement of one kept candidate: ever narrower searches on the ray error.
struct Refinement {
  bool ran = false;  // at least one level finished before a stop
  double value = kLargest;
  Pose pose;
};

Refinement Refine(const PoseEvaluator& evaluator, const Pose& start, const Vec3& firstRange,
                  const Cancel& cancel) {
  Workspace work = evaluator.NewWorkspace();
  Refinement refinement;
  refinement.pose = start;
  const Vec3 steps{RefineSteps, RefineSteps, RefineSteps};
  Vec3 range = firstRange;
  for (int level = 0; level < RefineLevels; ++level) {
    cancel.Poll();
    if (cancel.Stopped()) break;
    refinement.value =
        LocalSearch(evaluator, work, refinement.pose, range, steps, kRayError, cancel);
    refinement.ran = true;
    range = range / RefineShrink;
  }
  return refinement;
}

// The coarse sweep over the whole grid, one (pitch, yaw) roll sweep per work item so that both
// cores stay busy to the end, merged in grid order. The display steps once per pitch value.
std::vector<Candidate> CoarseSweep(const PoseEvaluator& evaluator, const Grid& grid, unsigned flags,
                                   int threads, Progress& progress, const Cancel& cancel,
                                   SweepBest& best) {
  const std::size_t yaws = grid.yaws.size(), items = grid.pitches.size() * yaws;
  std::vector<std::vector<Candidate>> slices(items);
  std::vector<SweepBest> sliceBests(items);
  std::vector<Candidate> candidates;
  RunParallel(
      items, WorkerCount(threads, items), cancel.flag(),
      [&](std::size_t i) {
        Workspace work = evaluator.NewWorkspace();
        SweepRoll(evaluator, work, grid.pitches[i / yaws], grid.yaws[i % yaws], grid, flags, cancel,
                  &slices[i], sliceBests[i]);
      },
      [&](std::size_t i) {
        if (i % yaws == yaws - 1) progress.StepIt();
        candidates.insert(candidates.end(), slices[i].begin(), slices[i].end());
        if (sliceBests[i].pose) best.Offer(sliceBests[i].value, *sliceBests[i].pose);
      });
  return candidates;
}

// The candidates whose every measure of `flags` is within that measure's threshold.
std::vector<std::size_t> KeptCandidates(const std::vector<Candidate>& candidates, unsigned flags,
                                        double keepFraction) {
  MeasureValues thresholds{kLargest, kLargest, kLargest};
  for (std::size_t m = 0; m < kMeasureFlags.size(); ++m) {
    if (!(flags & kMeasureFlags[m])) continue;
    std::vector<double> values;
    values.reserve(candidates.size());
    for (const Candidate& c : candidates) values.push_back(c.values[m]);
    thresholds[m] = Threshold(values, keepFraction);
  }
  std::vector<std::size_t> kept;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    bool within = true;
    for (std::size_t m = 0; m < kMeasureFlags.size(); ++m) {
      if ((flags & kMeasureFlags[m]) && candidates[i].values[m] > thresholds[m]) within = false;
    }
    if (within) kept.push_back(i);
  }
  return kept;
}

// The top-level search: coarse sweep, then refinement of the kept candidates (in parallel,
// merged in candidate order, so the result does not depend on the thread count).
// `refinedOut`, when given, receives every finished refinement in candidate order.
double TopLevelSearch(CameraRecord& camera, const PoseEvaluator& evaluator, const Vec3& range,
                      const Vec3& steps, unsigned flags, double keepFraction, int threads,
                      Progress& progress, const Cancel& cancel,
                      std::vector<Refinement>* refinedOut = nullptr) {
  const Grid grid = GridAround(camera.orientation, range, steps);
  SweepBest sweepBest;
  const std::vector<Candidate> candidates =
      CoarseSweep(evaluator, grid, flags, threads, progress, cancel, sweepBest);
  if (candidates.empty()) return kLargest;  // the camera keeps its entry pose

  Pose bestPose = *sweepBest.pose;
  double best = kLargest;
  // The display moves through every candidate in list order, kept or skipped, and reaches the
  // last one also when a stop cut the refinement short.
  const auto count = static_cast<std::int64_t>(candidates.size());
  std::int64_t shown = 0;
  const auto showUpTo = [&](std::int64_t last) {
    for (; shown <= last; ++shown) {
      progress.SetPos(static_cast<int>(shown * 100 / count + CoarseSteps + 1));
    }
  };
  if (!cancel.Stopped()) {
    const std::vector<std::size_t> kept = KeptCandidates(candidates, flags, keepFraction);
    const Vec3 firstRange = ComponentwiseQuotient(range, steps);
    std::vector<Refinement> refined(kept.size());
    RunParallel(
        kept.size(), WorkerCount(threads, kept.size()), cancel.flag(),
        [&](std::size_t k) {
          refined[k] = Refine(evaluator, candidates[kept[k]].pose, firstRange, cancel);
        },
        [&](std::size_t k) {
          showUpTo(static_cast<std::int64_t>(kept[k]));
          if (refined[k].ran && refined[k].value < best) {
            best = refined[k].value;
            bestPose = refined[k].pose;
          }
          if (refined[k].ran && refinedOut != nullptr) refinedOut->push_back(refined[k]);
        });
  }
  showUpTo(count - 1);
  SetPose(camera, bestPose);
  // A cancelled search still reports a ray error, so that the pose found so far can be
  // judged like any other.
  if (cancel.Stopped() && best == kLargest) best = evaluator.RayErrorAt(bestPose);
  return best;
}

double SearchWith(CameraRecord& camera, const PoseEvaluator& evaluator, const Vec3& range,
                  const Vec3& steps, bool topLevel, unsigned flags, double keepFraction,
                  const CalibrationOptions& options, const Cancel& cancel) {
  NullProgress silent;
  Progress& progress = options.progress != nullptr ? *options.progress : silent;
  if (topLevel) {
    return TopLevelSearch(camera, evaluator, range, steps, flags, keepFraction, options.threads,
                          progress, cancel);
  }
  Workspace work = evaluator.NewWorkspace();
  Pose pose = PoseOf(camera);
  const double value = LocalSearch(evaluator, work, pose, range, steps, flags, cancel);
  SetPose(camera, pose);
  return value;
}

// Moves the camera from the search's pose to its least-squares polish when the polish lowers
// the reprojection error, stays plausible and passes Accept on its own ray error. The polish
// lowers the reprojection error, not the ray error Accept judges, so a pose closer to the
// truth can fail where the search's passed: the search's pose has been judged already, and the
// polish can only keep the photo or win it, never lose it.
void KeepPolishIfAccepted(CameraRecord& camera, CalibrationResult& result) {
  const std::optional<PolishedPose> polished = PolishPose(camera);
  if (!polished) return;
  const Pose searchPose = PoseOf(camera);
  SetPose(camera, {polished->translation, polished->orientation});
  const double error = IsPlausible(camera) ? RayError(camera) : kLargest;
  if (!Accept(camera, error)) {
    SetPose(camera, searchPose);
    return;
  }
  result.polished = true;
  result.accepted = true;
  result.error = error;
}

// The starts polished besides the search's best pose: its next best refined candidates (by
// their ray error, the first of equals first) and the closed-form poses of the marks.
struct Start {
  Pose pose;
  PoseSource source;
};

std::vector<Start> OtherStarts(const CameraRecord& camera, std::vector<Refinement> refined) {
  std::vector<Start> starts;
  std::stable_sort(refined.begin(), refined.end(),
                   [](const Refinement& a, const Refinement& b) { return a.value < b.value; });
  // The first is the search's own pose.
  for (std::size_t i = 1; i < refined.size() && i <= kOtherSearchCandidates; ++i) {
    starts.push_back({refined[i].pose, PoseSource::kSearchCandidate});
  }
  if (const std::optional<CameraPose> closed = ClosedFormPose(camera)) {
    starts.push_back({{closed->translation, closed->orientation}, PoseSource::kClosedForm});
  }
  for (const CameraPose& pose : ThreePointCandidates(camera)) {
    starts.push_back({{pose.translation, pose.orientation}, PoseSource::kClosedForm});
  }
  return starts;
}

// A polished start passes when Accept takes its ray error, or when it reprojects its marks
// within kFitAcceptance: the ray error measures along the viewing rays, which for a camera held
// level meet the planes of the points' heights at a glancing angle and turn a pixel of mark
// noise into a long way, so a least-squares pose that fits every mark can fail it.
bool PassesAcceptance(const CameraRecord& camera, double rayError, double fit) {
  if (Accept(camera, rayError)) return true;
  // A camera far enough away fits any cluster of marks; the fit must also be small against
  // the marks' own spread.
  std::vector<Vec2> marks;
  for (const Correspondence& c : camera.correspondences) {
    if (IsFullyKnown(c.real)) marks.push_back(c.image);
  }
  if (marks.empty()) return false;
  Vec2 mean;
  for (const Vec2& m : marks) mean = {mean.x + m.x, mean.y + m.y};
  const auto count = static_cast<double>(marks.size());
  mean = {mean.x / count, mean.y / count};
  double spread = 0;
  for (const Vec2& m : marks) spread += (m - mean).SquaredLength();
  const double rms = std::sqrt(fit / count);
  return rms <= kFitAcceptance && rms <= kFitShareOfSpread * std::sqrt(spread / count);
}

// Polishes each start and moves the camera to the one that fits its marks best among those
// that stay plausible and pass Accept. The pose the camera holds counts only when `result`
// accepted it, and is left only for a fit clearly better than its own: starts that reach the
// same least-squares pose differ from it only by rounding.
void KeepBestStart(CameraRecord& camera, const std::vector<Start>& starts,
                   CalibrationResult& result) {
  // Infinity: nothing held yet, the first start that passes wins.
  const std::optional<double> heldFit = result.accepted ? MarkFit(camera) : std::nullopt;
  double bestFit = heldFit.value_or(std::numeric_limits<double>::infinity());
  const Pose held = PoseOf(camera);
  std::optional<Start> best;
  double bestError = result.error;
  for (const Start& start : starts) {
    SetPose(camera, start.pose);
    if (const std::optional<PolishedPose> polished = PolishPose(camera)) {
      SetPose(camera, {polished->translation, polished->orientation});
    }
    if (!IsPlausible(camera)) continue;
    const double error = RayError(camera);
    const std::optional<double> fit = MarkFit(camera);
    if (!fit || !PassesAcceptance(camera, error, *fit)) continue;
    if (std::isfinite(bestFit) &&
        !(*fit < bestFit - std::max(kClearlyBetterShare * bestFit, kClearlyBetterSum))) {
      continue;
    }
    bestFit = *fit;
    best = Start{PoseOf(camera), start.source};
    bestError = error;
  }
  SetPose(camera, best ? best->pose : held);
  if (!best) return;
  result.accepted = true;
  result.polished = true;
  result.fitAccepted = !Accept(camera, bestError);
  result.error = bestError;
  result.source = best->source;
}

}  // namespace

bool IsFullyKnown(const Vec3& point) {
  return point.x != UnknownCoordinate && point.y != UnknownCoordinate &&
         point.z != UnknownCoordinate;
}

CalibrationResult Calibrate(CameraRecord& camera, const std::string& photoName,
                            const CalibrationOptions& options) {
  NullProgress silent;
  Progress& progress = options.progress != nullptr ? *options.progress : silent;
  camera.progress = &progress;
  progress.Create("Calibrating image " + photoName + " ");
  progress.SetRange(0, CoarseSteps + 101);
  progress.SetStep(1);

  camera.orientation = {0, 0, 0};
  const PoseEvaluator evaluator(camera);
  const Cancel cancel(progress);
  const double coarse = CoarseSteps;
  std::vector<Refinement> refined;
  const double error = TopLevelSearch(camera, evaluator, {Pi(), Pi(), TwoPi()},
                                      {coarse, coarse, coarse}, kAngleError | kLengthError,
                                      KeepFraction, options.threads, progress, cancel, &refined);

  progress.Destroy();
  camera.progress = nullptr;

  CalibrationResult result;
  result.cancelled = cancel.Stopped();
  result.error = error;
  result.accepted = Accept(camera, error);
  if (options.polish && !result.cancelled) {
    if (error < kLargest) KeepPolishIfAccepted(camera, result);
    KeepBestStart(camera, OtherStarts(camera, std::move(refined)), result);
  }
  return result;
}

double Search(CameraRecord& camera, const Vec3& range, const Vec3& steps, bool topLevel,
              unsigned flags, double keepFraction, const CalibrationOptions& options) {
  const PoseEvaluator evaluator(camera);
  NullProgress silent;
  const Cancel cancel(options.progress != nullptr ? *options.progress : silent);
  return SearchWith(camera, evaluator, range, steps, topLevel, flags, keepFraction, options,
                    cancel);
}

void EstimateTranslation(CameraRecord& camera) {
  std::vector<Line3> lines;
  camera.translation = PoseEvaluator(camera).Translation(CameraRotation(camera.orientation), lines);
}

bool IsPlausible(const CameraRecord& camera) {
  std::vector<Vec2> projected;
  return PoseEvaluator(camera).Plausible(camera, CameraRotation(camera.orientation), projected);
}

double AngleError(const CameraRecord& camera) {
  const PoseEvaluator evaluator(camera);
  std::vector<Vec2> projected;
  evaluator.ProjectAll(camera, CameraRotation(camera.orientation), projected);
  return evaluator.AngleError(projected);
}

double LengthError(const CameraRecord& camera) {
  const PoseEvaluator evaluator(camera);
  std::vector<Vec2> projected;
  evaluator.ProjectAll(camera, CameraRotation(camera.orientation), projected);
  return evaluator.LengthError(projected);
}

double RayError(const CameraRecord& camera) {
  return PoseEvaluator(camera).RayError(camera, CameraRotation(camera.orientation));
}

double Threshold(const std::vector<double>& values, double fraction) {
  if (values.empty()) return kLargest;
  const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
  const double lo = *lowest, range = *highest - *lowest;
  std::array<std::int64_t, HistogramBins> bins{};
  for (const double v : values) {
    // The largest value and those within half a bin of it land in bin 100 and are counted
    // in none.
    const double bin = range == 0 ? 0 : std::trunc((v - lo) / range * 100 + 0.5);
    if (bin >= 0 && bin < HistogramBins) ++bins[static_cast<std::size_t>(bin)];
  }
  const auto kept = static_cast<std::int64_t>(static_cast<double>(values.size()) * fraction + 0.5);
  int j = 1;
  for (; j < HistogramBins; ++j) {
    bins[j] += bins[j - 1];
    if (bins[j] > kept) break;
  }
  return lo + j * range / 100;
}

bool Accept(const CameraRecord& camera, double error) {
  // The "no pose" value never passes, however large the scene.
  if (!(error < kLargest)) return false;
  // The box covers known coordinates only, axis by axis: an unknown marker would stretch it
  // until every error passed.
  std::array<double, 3> lower{kLargest, kLargest, kLargest}, upper{kLowest, kLowest, kLowest};
  for (const Correspondence& c : camera.correspondences) {
    const std::array<double, 3> real{c.real.x, c.real.y, c.real.z};
    for (std::size_t axis = 0; axis < 3; ++axis) {
      if (real[axis] == UnknownCoordinate) continue;
      lower[axis] = std::min(lower[axis], real[axis]);
      upper[axis] = std::max(upper[axis], real[axis]);
    }
  }
  Vec3 diagonal;
  double* extent[3] = {&diagonal.x, &diagonal.y, &diagonal.z};
  for (std::size_t axis = 0; axis < 3; ++axis) {
    *extent[axis] = upper[axis] >= lower[axis] ? upper[axis] - lower[axis] : 0;
  }
  return kAcceptanceFactor * diagonal.SquaredLength() > error;
}

std::vector<CameraPose> ThreePointCandidates(const CameraRecord& camera) {
  std::vector<const Correspondence*> known;
  for (const Correspondence& c : camera.correspondences) {
    if (IsFullyKnown(c.real)) known.push_back(&c);
  }
  std::vector<CameraPose> candidates;
  if (known.size() != 3) return candidates;
  CameraRecord placed = camera;
  for (const CameraPose& pose : ThreePointPoses(camera, *known[0], *known[1], *known[2])) {
    placed.translation = pose.translation;
    placed.orientation = pose.orientation;
    const std::optional<double> fit = MarkFit(placed);
    if (IsPlausible(placed) && fit && PassesAcceptance(placed, RayError(placed), *fit)) {
      candidates.push_back(pose);
    }
  }
  return candidates;
}

bool ThreePointPosesAmbiguous(const CameraRecord& camera, double pixelsPerWidth) {
  const std::vector<CameraPose> candidates = ThreePointCandidates(camera);
  if (candidates.size() < 2) return false;
  // Each candidate's residuals (pixels) on the marks of points with one unknown coordinate.
  std::vector<std::vector<double>> residuals;
  std::vector<double> fits;
  for (const CameraPose& pose : candidates) {
    CameraRecord placed = camera;
    placed.translation = pose.translation;
    placed.orientation = pose.orientation;
    const Rotation rotation = CameraRotation(pose.orientation);
    std::vector<double> own;
    double fit = 0;
    for (const Correspondence& c : camera.correspondences) {
      const std::optional<double> r = LineResidual(placed, rotation, c);
      own.push_back(r ? *r * pixelsPerWidth : 0);
      fit += own.back() * own.back();
    }
    residuals.push_back(std::move(own));
    fits.push_back(fit);
  }
  const std::size_t best =
      static_cast<std::size_t>(std::min_element(fits.begin(), fits.end()) - fits.begin());
  for (std::size_t other = 0; other < candidates.size(); ++other) {
    if (other == best) continue;
    bool toldApart = false;
    for (std::size_t m = 0; m < residuals[best].size(); ++m) {
      toldApart = toldApart || residuals[other][m] - residuals[best][m] > kDistinguishingPixels;
    }
    if (!toldApart) return true;
  }
  return false;
}

std::optional<double> ReprojectionRms(const CameraRecord& camera, int width, int height) {
  const Rotation rotation = CameraRotation(camera.orientation);
  double sum = 0;
  int count = 0;
  for (const Correspondence& c : camera.correspondences) {
    if (!IsFullyKnown(c.real)) continue;
    const ImageProjection q = WorldToImage(camera, rotation, c.real);
    if (!q.inFront) return std::nullopt;
    const double du = (q.image.x - c.image.x) * width, dv = (q.image.y - c.image.y) * height;
    sum += du * du + dv * dv;
    ++count;
  }
  if (count == 0) return std::nullopt;
  const double rms = std::sqrt(sum / count);
  return std::isfinite(rms) ? std::optional<double>(rms) : std::nullopt;
}

}  // namespace modrin::engine
