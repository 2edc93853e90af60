// Writes the house sample of examples/house: photos of a small brick house with a gable roof on
// a lawn, ray cast with the system's own camera model from known poses, and a project file with
// the house corners marked where each photo shows them, the edges of every wall and roof face,
// one object and real coordinates for the ground and eave corners; the ridge ends are left for
// the reconstruction to compute.
//
// Deterministic: no clock, no addresses, textures from a fixed seed, and every pixel computed on
// its own, so neither the thread count nor the machine's load changes a byte.
//
// Beside the project it writes truth.txt, what the photos were made from, for tests that
// compare calibration results against it. One record a line, fields separated by one space,
// numbers in the C locale with up to nine significant digits (printf "%.9g"); lines starting
// with '#' are comments:
//   sensor <width pixels> <height pixels> <sensor width m> <sensor height m>
//   photo <file name> <x> <y> <z> <pitch> <roll> <yaw> <focal m>
//   corner <position id> <x> <y> <z>
// A photo line holds the camera as CameraRecord keeps it: the centre of projection in world
// metres (z up) and the orientation in radians. Photo lines come in the project's photo order,
// corner lines in position id order.

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/geometry/camera.h"
#include "images/camera_database.h"
#include "images/decoded_image.h"
#include "images/exif_reader.h"
#include "images/file_io.h"
#include "images/jpeg_writer.h"
#include "model/photo.h"
#include "model/project.h"
#include "model/project_file.h"
#include "sample_camera.h"

namespace {

using modrin::engine::Dot;
using modrin::engine::Vec3;

constexpr int kWidth = 1600;
constexpr int kHeight = 1200;
constexpr double kSensorWidth = 0.036;   // metres
constexpr double kSensorHeight = 0.024;  // metres
constexpr int kJpegQuality = 85;
constexpr std::uint64_t kSeed = 0x6d6f6472696e4831;  // of every texture's random numbers

// The house, in metres with z up: kLength along x by kDepth along y, walls up to the eaves and
// a gable roof whose ridge runs along x above the middle of the footprint, without overhang.
// It is a convex prism, which keeps ray casting and the visibility of corners simple.
constexpr double kLength = 8;
constexpr double kDepth = 6;
constexpr double kEaveHeight = 3;
constexpr double kRidgeHeight = 5;
constexpr double kRoofRise = kRidgeHeight - kEaveHeight;
constexpr double kRoofRun = kDepth / 2;
// Length of a roof plane up its slope. Square roots are correctly rounded in every build, so a
// compiler that folds constants agrees with one that does not.
const double kRoofSlope = std::sqrt(kRoofRise * kRoofRise + kRoofRun * kRoofRun);

// Light: a sun in the south-west, and sky light for the faces it does not reach.
const Vec3 kToSun = Vec3{-0.45, -0.7, 0.6} / std::sqrt(0.45 * 0.45 + 0.7 * 0.7 + 0.6 * 0.6);
constexpr double kAmbient = 0.5;
constexpr double kDiffuse = 0.6;
constexpr double kHazeDistance = 300;  // metres for the view to fade 63% into the horizon

// ---------------------------------------------------------------------------------------------
// Colours and random numbers

struct Rgb {
  double r = 0;
  double g = 0;
  double b = 0;

  friend Rgb operator+(const Rgb& a, const Rgb& c) { return {a.r + c.r, a.g + c.g, a.b + c.b}; }
  friend Rgb operator*(const Rgb& a, double s) { return {a.r * s, a.g * s, a.b * s}; }
};

Rgb Mix(const Rgb& a, const Rgb& b, double t) { return a * (1 - t) + b * t; }

const Rgb kHorizon{200, 215, 230};
const Rgb kZenith{85, 135, 205};

std::uint64_t Scramble(std::uint64_t h) {
  h ^= h >> 30;
  h *= 0xbf58476d1ce4e5b9;
  h ^= h >> 27;
  h *= 0x94d049bb133111eb;
  return h ^ (h >> 31);
}

// A number in [0, 1) fixed by the lattice cell (a, b) and the pattern `salt`.
double Random01(std::int64_t a, std::int64_t b, std::uint64_t salt) {
  std::uint64_t h = Scramble(kSeed ^ Scramble(salt));
  h = Scramble(h ^ static_cast<std::uint64_t>(a));
  h = Scramble(h ^ static_cast<std::uint64_t>(b));
  return static_cast<double>(h >> 11) * 0x1.0p-53;
}

std::int64_t Cell(double x) { return static_cast<std::int64_t>(std::floor(x)); }

double SmoothStep(double t) { return t * t * (3 - 2 * t); }

// Smooth noise in [0, 1) varying over one unit of x and y.
double ValueNoise(double x, double y, std::uint64_t salt) {
  const std::int64_t ix = Cell(x), iy = Cell(y);
  const double tx = SmoothStep(x - std::floor(x)), ty = SmoothStep(y - std::floor(y));
  const double bottom = Random01(ix, iy, salt) * (1 - tx) + Random01(ix + 1, iy, salt) * tx;
  const double top = Random01(ix, iy + 1, salt) * (1 - tx) + Random01(ix + 1, iy + 1, salt) * tx;
  return bottom * (1 - ty) + top * ty;
}

// How much of a detail of size `size` survives averaging over `footprint`: 1 when the footprint
// is much smaller, falling to 0 when it covers many details.
double Detail(double footprint, double size) {
  const double ratio = footprint / size;
  return 1 / (1 + ratio * ratio);
}

// ---------------------------------------------------------------------------------------------
// Filtered patterns. Every texture is evaluated with the extent of the surface a sample covers
// (its footprint along each texture axis) and returns the mean over it, so fine periodic
// details such as mortar joints fade into their average instead of breaking into moire.

// Mean over [x - footprint / 2, x + footprint / 2] of the indicator of [lo, hi].
double BoxCoverage(double x, double footprint, double lo, double hi) {
  footprint = std::max(footprint, 1e-6);
  const double overlap = std::min(x + footprint / 2, hi) - std::max(x - footprint / 2, lo);
  return std::clamp(overlap / footprint, 0.0, 1.0);
}

// The same for lines of `width` starting at every multiple of `period`.
double LineCoverage(double x, double footprint, double period, double width) {
  footprint = std::max(footprint, 1e-6);
  const auto integral = [&](double at) {
    const double cell = std::floor(at / period);
    return cell * width + std::min(at - cell * period, width);
  };
  return std::clamp((integral(x + footprint / 2) - integral(x - footprint / 2)) / footprint, 0.0,
                    1.0);
}

// Coverage of the rectangle [s0, s1] x [t0, t1].
double RectCoverage(double s, double t, double fs, double ft, double s0, double s1, double t0,
                    double t1) {
  return BoxCoverage(s, fs, s0, s1) * BoxCoverage(t, ft, t0, t1);
}

// Coverage of a disc of `radius` around (cs, ct), blurred over the mean footprint.
double DiscCoverage(double s, double t, double fs, double ft, double cs, double ct, double radius) {
  const double distance = std::hypot(s - cs, t - ct);
  const double blur = std::max((fs + ft) / 2, 1e-6);
  return std::clamp((radius - distance) / blur + 0.5, 0.0, 1.0);
}

// A point on a plane hit by a sample ray, with its footprint: the offsets to where the rays of
// the neighbouring samples (half a pixel to the right and up) meet the same plane.
struct SurfacePoint {
  Vec3 p;
  Vec3 dpdx;
  Vec3 dpdy;

  // Extent of the footprint along the unit vector `axis`, at most a few metres (grazing views).
  double Footprint(const Vec3& axis) const {
    return std::min(std::abs(Dot(axis, dpdx)) + std::abs(Dot(axis, dpdy)), 4.0);
  }
};

// ---------------------------------------------------------------------------------------------
// The house as a convex body

// The faces of the house, in the order of its bounding planes below.
enum Face { kWestWall, kEastWall, kSouthWall, kNorthWall, kFloor, kSouthRoof, kNorthRoof };
constexpr int kFaceCount = 7;

// A bounding plane of the house: unit outward normal; inside where Dot(normal, p) <= offset.
struct HalfSpace {
  Vec3 normal;
  double offset = 0;
};

const std::array<HalfSpace, kFaceCount>& House() {
  static const std::array<HalfSpace, kFaceCount> house = [] {
    const Vec3 southRoof = Vec3{0, -kRoofRise, kRoofRun} / kRoofSlope;
    const Vec3 northRoof = Vec3{0, kRoofRise, kRoofRun} / kRoofSlope;
    return std::array<HalfSpace, kFaceCount>{{
        {{-1, 0, 0}, 0},
        {{1, 0, 0}, kLength},
        {{0, -1, 0}, 0},
        {{0, 1, 0}, kDepth},
        {{0, 0, -1}, 0},
        {southRoof, Dot(southRoof, {0, 0, kEaveHeight})},
        {northRoof, Dot(northRoof, {0, kDepth, kEaveHeight})},
    }};
  }();
  return house;
}

// Where the line origin + t dir runs inside the house: from `enter` (through `face`) to `exit`.
struct Span {
  double enter = -1e300;
  double exit = 1e300;
  int face = -1;
};

std::optional<Span> HouseSpan(const Vec3& origin, const Vec3& dir) {
  Span span;
  for (int face = 0; face < kFaceCount; ++face) {
    const HalfSpace& plane = House()[face];
    const double along = Dot(plane.normal, dir);
    const double room = plane.offset - Dot(plane.normal, origin);  // >= 0 on the inner side
    if (along == 0) {
      if (room < 0) return std::nullopt;
      continue;
    }
    const double t = room / along;
    if (along < 0) {
      if (t > span.enter) {
        span.enter = t;
        span.face = face;
      }
    } else {
      span.exit = std::min(span.exit, t);
    }
  }
  if (span.enter > span.exit) return std::nullopt;
  return span;
}

// The ground and eave corners get real coordinates, as a user would measure them; the ridge
// ends are computed from the calibrated photos.
constexpr std::size_t kRealCorners = 8;

// The ten corners, in the order their positions are made (ids 1 to 10): the ground corners
// anticlockwise from the origin seen from above, the eave corners above them, then the west and
// east ends of the ridge.
std::array<Vec3, 10> Corners() {
  return {{{0, 0, 0},
           {kLength, 0, 0},
           {kLength, kDepth, 0},
           {0, kDepth, 0},
           {0, 0, kEaveHeight},
           {kLength, 0, kEaveHeight},
           {kLength, kDepth, kEaveHeight},
           {0, kDepth, kEaveHeight},
           {0, kDepth / 2, kRidgeHeight},
           {kLength, kDepth / 2, kRidgeHeight}}};
}

// The outline of each wall and roof face as corner indices, anticlockwise seen from outside.
struct Outline {
  Face face;
  const char* name;
  std::vector<int> corners;
};

const std::vector<Outline>& Outlines() {
  static const std::vector<Outline> outlines = {
      {kSouthWall, "south wall", {0, 1, 5, 4}}, {kEastWall, "east gable", {1, 2, 6, 9, 5}},
      {kNorthWall, "north wall", {2, 3, 7, 6}}, {kWestWall, "west gable", {3, 0, 4, 8, 7}},
      {kSouthRoof, "south roof", {4, 5, 9, 8}}, {kNorthRoof, "north roof", {6, 7, 8, 9}},
  };
  return outlines;
}

// ---------------------------------------------------------------------------------------------
// Wall texture: brick with a rendered plinth, white fascia boards under the roof, windows with
// stone sills and lintels, and a panelled door. Walls are textured in (s, z): s runs left to
// right along the wall as seen from outside, z is the height.

enum class OpeningKind { kWindow, kRoundWindow, kDoor };

// A window or door and its extent on the wall in metres; a round window fills its square.
struct Opening {
  OpeningKind kind;
  double s0, s1, z0, z1;
};

const std::vector<Opening>& Openings(Face wall) {
  using enum OpeningKind;
  static const std::vector<Opening> south = {
      {kWindow, 1.0, 2.4, 0.9, 2.2}, {kDoor, 3.5, 4.5, 0.0, 2.1}, {kWindow, 5.6, 7.0, 0.9, 2.2}};
  static const std::vector<Opening> north = {
      {kWindow, 0.9, 2.1, 1.0, 2.1}, {kWindow, 3.4, 4.6, 1.0, 2.1}, {kWindow, 5.9, 7.1, 1.0, 2.1}};
  static const std::vector<Opening> east = {{kWindow, 2.2, 3.8, 0.9, 2.2},
                                            {kWindow, 2.65, 3.35, 3.3, 4.1}};
  static const std::vector<Opening> west = {{kWindow, 0.9, 2.2, 0.9, 2.2},
                                            {kWindow, 3.8, 5.1, 0.9, 2.2},
                                            {kRoundWindow, 2.62, 3.38, 3.37, 4.13}};
  switch (wall) {
    case kSouthWall:
      return south;
    case kNorthWall:
      return north;
    case kEastWall:
      return east;
    default:
      return west;
  }
}

const Rgb kWhitePaint{236, 234, 228};
const Rgb kStone{196, 190, 178};

Rgb Brick(int wall, double s, double z, double fs, double fz) {
  constexpr double kCourse = 0.1, kBrick = 0.3, kJoint = 0.012;
  const std::int64_t course = Cell(z / kCourse);
  const double shifted = s + (course % 2 != 0 ? kBrick / 2 : 0) + wall * 0.37;
  const std::int64_t brick = Cell(shifted / kBrick);
  const double variation = Detail(std::max(fs, fz), kCourse);
  const double hue = 0.5 + (Random01(course, brick, 10 + wall) - 0.5) * variation;
  const double shade = 1 + (Random01(course, brick, 20 + wall) - 0.5) * 0.16 * variation;
  const Rgb face = Rgb{140 + 40 * hue, 58 + 22 * hue, 42 + 14 * hue} * shade;
  const double bed = LineCoverage(z, fz, kCourse, kJoint);
  const double head = LineCoverage(shifted, fs, kBrick, kJoint);
  const double mortar = 1 - (1 - bed) * (1 - head);
  return Mix(face, Rgb{182, 176, 163}, mortar);
}

Rgb WindowColour(const Opening& o, double s, double z, double fs, double fz) {
  constexpr double kFrame = 0.07, kBar = 0.035;
  const double sm = (o.s0 + o.s1) / 2, zm = (o.z0 + o.z1) / 2;
  const double height = (z - o.z0) / (o.z1 - o.z0);
  Rgb glass = Mix(Rgb{42, 55, 70}, Rgb{128, 152, 178}, std::clamp(height, 0.0, 1.0));
  double pane = 0;
  if (o.kind == OpeningKind::kRoundWindow) {
    pane = DiscCoverage(s, z, fs, fz, sm, zm, (o.s1 - o.s0) / 2 - kFrame);
  } else {
    pane = RectCoverage(s, z, fs, fz, o.s0 + kFrame, o.s1 - kFrame, o.z0 + kFrame, o.z1 - kFrame);
    // The glass sits back in the frame; the top of the frame shades it.
    glass = glass * (1 - 0.35 * BoxCoverage(z, fz, o.z1 - kFrame - 0.07, o.z1));
  }
  const double bars = 1 - (1 - BoxCoverage(s, fs, sm - kBar / 2, sm + kBar / 2)) *
                              (1 - BoxCoverage(z, fz, zm - kBar / 2, zm + kBar / 2));
  return Mix(kWhitePaint, glass, pane * (1 - bars));
}

Rgb DoorColour(const Opening& o, double s, double z, double fs, double fz) {
  constexpr double kFrame = 0.07, kGroove = 0.025;
  const Rgb leaf{92, 58, 36};
  const double inLeaf = RectCoverage(s, z, fs, fz, o.s0 + kFrame, o.s1 - kFrame, -1, o.z1 - kFrame);
  // Six panels, two across and three high, outlined by a dark groove.
  Rgb colour = leaf;
  const double sm = (o.s0 + o.s1) / 2;
  const std::array<std::array<double, 2>, 2> columns = {
      {{o.s0 + kFrame + 0.08, sm - 0.04}, {sm + 0.04, o.s1 - kFrame - 0.08}}};
  const std::array<std::array<double, 2>, 3> rows = {{{0.15, 0.75}, {0.9, 1.45}, {1.6, 1.93}}};
  for (const auto& column : columns) {
    for (const auto& row : rows) {
      const double outer = RectCoverage(s, z, fs, fz, column[0], column[1], row[0], row[1]);
      const double inner = RectCoverage(s, z, fs, fz, column[0] + kGroove, column[1] - kGroove,
                                        row[0] + kGroove, row[1] - kGroove);
      colour = Mix(colour, Rgb{52, 32, 20}, outer);
      colour = Mix(colour, Rgb{104, 67, 42}, inner);
    }
  }
  const double knob = DiscCoverage(s, z, fs, fz, o.s1 - kFrame - 0.1, 1.0, 0.035);
  colour = Mix(colour, Rgb{205, 172, 90}, knob);
  return Mix(kWhitePaint, colour, inLeaf);
}

// Height of the roof line above the point s of a gable wall.
double GableTop(double s) {
  return kEaveHeight + kRoofRise * (1 - std::abs(s - kRoofRun) / kRoofRun);
}

Rgb WallColour(Face wall, double s, double z, double fs, double fz) {
  constexpr double kPlinth = 0.35;
  Rgb colour = Brick(wall, s, z, fs, fz);
  const double grain =
      (Random01(Cell(s / 0.02), Cell(z / 0.02), 30 + wall) - 0.5) * Detail(std::max(fs, fz), 0.02);
  colour = Mix(colour, Rgb{118, 114, 108} * (1 + 0.12 * grain), BoxCoverage(z, fz, -1, kPlinth));

  // A fascia board along the top of the wall, following the roof line on the gables.
  constexpr double kBoard = 0.14;
  const bool gable = wall == kEastWall || wall == kWestWall;
  const double boardFrom =
      gable ? GableTop(s) - kBoard * kRoofSlope / kRoofRun : kEaveHeight - kBoard;
  colour = Mix(colour, kWhitePaint, BoxCoverage(z, fz, boardFrom, 1e3));

  for (const Opening& o : Openings(wall)) {
    if (o.kind == OpeningKind::kWindow) {
      const double sill = RectCoverage(s, z, fs, fz, o.s0 - 0.06, o.s1 + 0.06, o.z0 - 0.08, o.z0);
      colour = Mix(colour, kStone * 1.05, sill);
    }
    if (o.kind != OpeningKind::kRoundWindow) {
      const double lintel = RectCoverage(s, z, fs, fz, o.s0 - 0.1, o.s1 + 0.1, o.z1, o.z1 + 0.12);
      colour = Mix(colour, kStone, lintel);
    }
    double inside = 0;
    if (o.kind == OpeningKind::kRoundWindow) {
      inside = DiscCoverage(s, z, fs, fz, (o.s0 + o.s1) / 2, (o.z0 + o.z1) / 2, (o.s1 - o.s0) / 2);
    } else {
      inside = RectCoverage(s, z, fs, fz, o.s0, o.s1, o.z0, o.z1);
    }
    if (inside <= 0) continue;
    const Rgb opening =
        o.kind == OpeningKind::kDoor ? DoorColour(o, s, z, fs, fz) : WindowColour(o, s, z, fs, fz);
    colour = Mix(colour, opening, inside);
  }
  return colour;
}

// ---------------------------------------------------------------------------------------------
// Roof texture: rows of slate tiles laid from the eave up, a gutter along the eave and ridge
// tiles along the top. Textured in (s, r): s along x, r up the slope from the eave.

Rgb RoofColour(Face roof, double s, double r, double fs, double fr) {
  constexpr double kRow = 0.32, kTile = 0.3, kOverlap = 0.035, kJoint = 0.012;
  const std::int64_t row = Cell(r / kRow);
  const double shifted = s + (row % 2 != 0 ? kTile / 2 : 0);
  const std::int64_t tile = Cell(shifted / kTile);
  const double variation = Detail(std::max(fs, fr), kTile);
  const double shade = 1 + (Random01(row, tile, 40 + roof) - 0.5) * 0.22 * variation;
  const double withinRow = r / kRow - std::floor(r / kRow);
  Rgb colour = Rgb{80, 78, 84} * (shade * (0.94 + 0.08 * withinRow * variation));
  // The lower edge of each row throws a dark line; the tiles of a row leave thin joints.
  const double overlap = LineCoverage(r, fr, kRow, kOverlap);
  const double joint = LineCoverage(shifted, fs, kTile, kJoint);
  colour = Mix(colour, Rgb{34, 33, 38}, overlap);
  colour = Mix(colour, Rgb{46, 45, 50}, joint * (1 - overlap));
  colour = Mix(colour, Rgb{62, 58, 58}, BoxCoverage(r, fr, kRoofSlope - 0.16, 1e3));
  colour = Mix(colour, Rgb{172, 172, 168}, BoxCoverage(r, fr, -1e3, 0.09));
  return colour;
}

// ---------------------------------------------------------------------------------------------
// Ground: lawn, a gravel strip around the house and a paved path leading south from the door.

Rgb GroundColour(const SurfacePoint& point) {
  const double x = point.p.x, y = point.p.y;
  const double fx = point.Footprint({1, 0, 0}), fy = point.Footprint({0, 1, 0});
  const double f = std::max(fx, fy);

  const double patches = ValueNoise(x / 3.0, y / 3.0, 1);
  const double tufts = ValueNoise(x / 0.6, y / 0.6, 2) - 0.5;
  const double blades = (Random01(Cell(x / 0.035), Cell(y / 0.035), 3) - 0.5) * Detail(f, 0.035);
  Rgb colour = Mix(Rgb{62, 112, 40}, Rgb{104, 134, 56}, patches);
  colour = colour * (1 + 0.16 * tufts * Detail(f, 0.6) + 0.22 * blades);

  // The gravel strip: how far the point lies outside the footprint, along the nearer axis.
  const double dx = std::max({-x, x - kLength, 0.0}), dy = std::max({-y, y - kDepth, 0.0});
  const double out = std::max(dx, dy);
  const double pebbles = (Random01(Cell(x / 0.025), Cell(y / 0.025), 4) - 0.5) * Detail(f, 0.025);
  colour = Mix(colour, Rgb{156, 150, 138} * (1 + 0.3 * pebbles), BoxCoverage(out, f, -1, 0.45));

  constexpr double kPathFrom = 3.25, kPathTo = 4.75, kStone = 0.5, kJoint = 0.02;
  const double path = RectCoverage(x, y, fx, fy, kPathFrom, kPathTo, -9, -0.45);
  if (path > 0) {
    const double stone =
        Random01(Cell((x - kPathFrom) / kStone), Cell(y / kStone), 5) * Detail(f, kStone);
    Rgb paving = Rgb{170, 162, 150} * (0.92 + 0.14 * stone);
    const double joints = 1 - (1 - LineCoverage(x - kPathFrom, fx, kStone, kJoint)) *
                                  (1 - LineCoverage(y, fy, kStone, kJoint));
    paving = Mix(paving, Rgb{96, 92, 86}, joints);
    colour = Mix(colour, paving, path);
  }
  // Less sky light reaches the ground right at the walls.
  return colour * (1 - 0.3 * std::exp(-out / 0.25));
}

Rgb SkyColour(const Vec3& dir) {
  const double up = std::max(dir.z, 0.0) / std::sqrt(dir.SquaredLength());
  Rgb sky = Mix(kHorizon, kZenith, std::sqrt(up));
  if (up > 0.01) {
    // Clouds on a layer 1500 m up, thinning out toward the horizon.
    const double cx = dir.x / dir.z * 1500 / 700, cy = dir.y / dir.z * 1500 / 700;
    const double noise = 0.6 * ValueNoise(cx, cy, 6) + 0.3 * ValueNoise(cx * 2.3, cy * 2.3, 7) +
                         0.1 * ValueNoise(cx * 5.1, cy * 5.1, 8);
    const double cover = std::clamp((noise - 0.5) / 0.25, 0.0, 1.0) * std::min(1.0, up * 6);
    sky = Mix(sky, Rgb{238, 240, 244}, SmoothStep(cover) * 0.85);
  }
  return sky;
}

// ---------------------------------------------------------------------------------------------
// Cameras and rendering

// A photo's true camera: where it stands, the point it looks at, the turn about its viewing
// axis, and its focal length.
struct Pose {
  Vec3 centre;
  Vec3 target;
  double roll = 0;   // radians
  double focal = 0;  // metres
};

// A camera of the sample, with the ray offsets of half a pixel that size each ray's footprint.
struct Camera : modrin::tools::SampleCamera {
  Vec3 halfPixelX;  // ray change half a pixel to the right
  Vec3 halfPixelY;  // ray change half a pixel up

  static Camera FromPose(const Pose& pose) {
    static const modrin::images::CameraEntry sensor{"", kSensorWidth, kSensorHeight};
    Camera camera;
    static_cast<SampleCamera&>(camera) = SampleCamera::LookingAt(
        sensor, kWidth, kHeight, pose.focal, pose.centre, pose.target, pose.roll);
    camera.halfPixelX = camera.rotation.Apply({0.5 * kSensorWidth / kWidth, 0, 0});
    camera.halfPixelY = camera.rotation.Apply({0, 0, 0.5 * kSensorHeight / kHeight});
    return camera;
  }
};

// The sample ray origin + t dir meets the plane (normal, offset) at t; adds the footprint.
SurfacePoint OnPlane(const Camera& camera, const Vec3& dir, const Vec3& normal, double offset,
                     double t) {
  const Vec3& origin = camera.centre();
  SurfacePoint point;
  point.p = origin + dir * t;
  const auto offsetTo = [&](const Vec3& neighbour) {
    const double along = Dot(normal, neighbour);
    const double tn = along != 0 ? (offset - Dot(normal, origin)) / along : -1;
    // A neighbouring ray that misses the plane marks a grazing view: a very wide footprint.
    if (!(tn > 0) || tn > 1e3 * t) return Vec3{1e3, 1e3, 1e3};
    return origin + neighbour * tn - point.p;
  };
  point.dpdx = offsetTo(dir + camera.halfPixelX);
  point.dpdy = offsetTo(dir + camera.halfPixelY);
  return point;
}

Rgb Lit(const Rgb& colour, const Vec3& normal, bool shadowed) {
  const double sun = shadowed ? 0 : std::max(Dot(normal, kToSun), 0.0);
  return colour * (kAmbient + kDiffuse * sun);
}

Rgb Hazed(const Rgb& colour, double distance) {
  return Mix(colour, kHorizon, 1 - std::exp(-distance / kHazeDistance));
}

Rgb HouseSample(Face face, const SurfacePoint& point) {
  const Vec3& p = point.p;
  const Vec3 up{0, 0, 1};
  switch (face) {
    case kSouthWall:
      return WallColour(face, p.x, p.z, point.Footprint({1, 0, 0}), point.Footprint(up));
    case kNorthWall:
      return WallColour(face, kLength - p.x, p.z, point.Footprint({1, 0, 0}), point.Footprint(up));
    case kEastWall:
      return WallColour(face, p.y, p.z, point.Footprint({0, 1, 0}), point.Footprint(up));
    case kWestWall:
      return WallColour(face, kDepth - p.y, p.z, point.Footprint({0, 1, 0}), point.Footprint(up));
    case kSouthRoof:
    case kNorthRoof: {
      const Vec3 upSlope =
          Vec3{0, face == kSouthRoof ? kRoofRun : -kRoofRun, kRoofRise} / kRoofSlope;
      const double r = (p.z - kEaveHeight) * kRoofSlope / kRoofRise;
      return RoofColour(face, p.x, r, point.Footprint({1, 0, 0}), point.Footprint(upSlope));
    }
    default:
      return {};
  }
}

Rgb Sample(const Camera& camera, const Vec3& dir) {
  const Vec3& origin = camera.centre();
  const double length = std::sqrt(dir.SquaredLength());
  if (const auto span = HouseSpan(origin, dir); span && span->enter > 0) {
    const HalfSpace& plane = House()[span->face];
    const SurfacePoint point = OnPlane(camera, dir, plane.normal, plane.offset, span->enter);
    // A convex house shades none of its own faces: only the way a face turns counts.
    const Rgb colour = Lit(HouseSample(static_cast<Face>(span->face), point), plane.normal, false);
    return Hazed(colour, span->enter * length);
  }
  if (dir.z < 0) {
    const double t = -origin.z / dir.z;
    const SurfacePoint point = OnPlane(camera, dir, {0, 0, 1}, 0, t);
    const auto blocker = HouseSpan(point.p, kToSun);
    const bool shadowed = blocker && blocker->enter > 0;
    return Hazed(Lit(GroundColour(point), {0, 0, 1}, shadowed), t * length);
  }
  return SkyColour(dir);
}

// Each pixel is the mean of 2 x 2 samples, each filtering its textures over its own footprint.
void RenderRow(const Camera& camera, int row, modrin::images::DecodedImage& image) {
  const int y = kHeight - 1 - row;  // rows are stored top-down
  std::uint8_t* out = image.pixels.data() + static_cast<std::size_t>(row) * image.stride();
  for (int x = 0; x < kWidth; ++x) {
    Rgb sum;
    for (int sy = 0; sy < 2; ++sy) {
      for (int sx = 0; sx < 2; ++sx) {
        sum = sum + Sample(camera, camera.Ray(x + 0.25 + 0.5 * sx, y + 0.25 + 0.5 * sy));
      }
    }
    for (double channel : {sum.r, sum.g, sum.b}) {
      *out++ = static_cast<std::uint8_t>(std::lround(std::clamp(channel / 4, 0.0, 255.0)));
    }
  }
}

modrin::images::DecodedImage Render(const Camera& camera) {
  modrin::images::DecodedImage image;
  image.width = kWidth;
  image.height = kHeight;
  image.format = modrin::images::ImageFormat::Jpeg;
  image.pixels.resize(image.stride() * kHeight);
  std::atomic<int> nextRow{0};
  const auto work = [&] {
    for (int row = nextRow++; row < kHeight; row = nextRow++) RenderRow(camera, row, image);
  };
  const unsigned helpers = std::max(1u, std::thread::hardware_concurrency()) - 1;
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < helpers; ++i) threads.emplace_back(work);
  work();
  for (auto& thread : threads) thread.join();
  return image;
}

// Whether the house hides the corner from the camera: the ray toward it enters the house
// before reaching it. A corner on the outline, where the ray only touches the house, is seen.
bool Hidden(const Camera& camera, const Vec3& corner) {
  const auto span = HouseSpan(camera.centre(), corner - camera.centre());
  return span && span->enter < 1 - 1e-6 && span->exit - span->enter > 1e-6;
}

// "%.9g" in the C locale, whatever the process locale.
std::string Number(double value) {
  std::array<char, 32> text{};
  const auto end =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::general, 9);
  return std::string(text.data(), end.ptr);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "modrin-make-house: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];

  // Around the house, at 16 to 19 m from its middle and 1.6 to 6 m high; every wall and both
  // roof planes are seen whole from at least one of them, and every photo shows at least six
  // corners.
  const std::vector<Pose> poses = {
      {{-8.5, -10.0, 1.7}, {4.2, 3.0, 2.0}, 0.0, 0.028},
      {{12.0, -12.5, 5.5}, {3.8, 3.2, 1.9}, 0.012, 0.024},
      {{21.0, 10.5, 2.4}, {4.0, 2.8, 2.2}, -0.015, 0.035},
      {{-3.5, 19.5, 4.2}, {4.0, 3.2, 2.0}, 0.008, 0.030},
      {{-13.5, -1.5, 1.6}, {4.0, 3.0, 2.3}, 0.0, 0.035},
      {{13.0, 16.0, 6.0}, {4.0, 3.0, 1.8}, -0.01, 0.024},
  };
  const auto corners = Corners();

  modrin::model::Project project;
  std::vector<Camera> cameras;
  std::string truth = "# Modrin house sample: true cameras and corners\n";
  truth += "sensor " + std::to_string(kWidth) + " " + std::to_string(kHeight) + " " +
           Number(kSensorWidth) + " " + Number(kSensorHeight) + "\n";
  for (std::size_t c = 0; c < poses.size(); ++c) {
    const Camera camera = Camera::FromPose(poses[c]);
    cameras.push_back(camera);
    const std::string name = "photo" + std::to_string(c + 1) + ".jpg";
    const std::string path = folder + "/" + name;

    const modrin::images::ExifCamera exif =
        modrin::tools::SampleExif("Modrin House Camera", camera);
    const auto bytes = modrin::images::EncodeJpeg(Render(camera), kJpegQuality, exif);
    std::string error;
    if (bytes.empty() || !modrin::images::WriteFileAtomically(
                             path, std::string(bytes.begin(), bytes.end()), error)) {
      return Fail("cannot write " + path + (error.empty() ? "" : ": " + error));
    }
    // Loading the photo must give back the camera it was rendered with.
    const modrin::model::LoadedImage loaded = modrin::model::DecodePhotoFile(path);
    if (!loaded.image || loaded.image->width != kWidth || loaded.image->height != kHeight ||
        !loaded.hasExif || std::abs(loaded.focal - poses[c].focal) > 1e-9 ||
        std::abs(loaded.cellWidth - kSensorWidth) > 1e-9 ||
        std::abs(loaded.cellHeight - kSensorHeight) > 1e-9) {
      return Fail(path + " does not load back as the camera it was rendered with");
    }
    std::printf("%s: %zu bytes, %.1f m from the middle of the house\n", name.c_str(), bytes.size(),
                std::sqrt((poses[c].centre - Vec3{kLength / 2, kDepth / 2, 2.5}).SquaredLength()));

    auto& photo = project.AddPhoto();
    photo.SetPath(name);
    photo.camera.focal = poses[c].focal;
    const auto& o = camera.record.orientation;
    const auto& t = camera.record.translation;
    truth += "photo " + name + " " + Number(t.x) + " " + Number(t.y) + " " + Number(t.z) + " " +
             Number(o.x) + " " + Number(o.y) + " " + Number(o.z) + " " +
             Number(camera.record.focal) + "\n";
  }

  std::vector<std::int32_t> ids(corners.size());
  for (auto& id : ids) project.graph.NewPosition(id);
  // marked[c][i]: photo c shows corner i inside its frame, not hidden by the house.
  std::vector<std::array<bool, 10>> marked(cameras.size());
  for (std::size_t c = 0; c < cameras.size(); ++c) {
    std::string list;
    int realCount = 0;
    for (std::size_t i = 0; i < corners.size(); ++i) {
      const auto pixel = cameras[c].Project(corners[i]);
      if (!pixel || Hidden(cameras[c], corners[i])) continue;
      const long x = std::lround((*pixel)[0]), y = std::lround((*pixel)[1]);
      if (x < 0 || x >= kWidth || y < 0 || y >= kHeight) continue;
      project.graph.SetImagePoint(ids[i], static_cast<std::int32_t>(c),
                                  {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)});
      marked[c][i] = true;
      list += " " + std::to_string(ids[i]);
      if (i < kRealCorners) ++realCount;
    }
    std::printf("photo%zu.jpg marks%s\n", c + 1, list.c_str());
    if (realCount < 6) {
      return Fail("photo" + std::to_string(c + 1) + ".jpg shows fewer than six real corners");
    }
  }
  for (const Outline& outline : Outlines()) {
    const HalfSpace& plane = House()[outline.face];
    bool seen = false;
    for (std::size_t c = 0; c < cameras.size() && !seen; ++c) {
      seen = Dot(plane.normal, cameras[c].centre()) > plane.offset &&
             std::all_of(outline.corners.begin(), outline.corners.end(),
                         [&](int i) { return marked[c][i]; });
    }
    if (!seen) return Fail(std::string("no photo shows the whole ") + outline.name);
  }

  for (std::size_t i = 0; i < corners.size(); ++i) {
    if (i < kRealCorners) {
      project.graph.SetRealCoords(ids[i], {corners[i].x, corners[i].y, corners[i].z});
    }
    truth += "corner " + std::to_string(ids[i]) + " " + Number(corners[i].x) + " " +
             Number(corners[i].y) + " " + Number(corners[i].z) + "\n";
  }
  for (const Outline& outline : Outlines()) {
    const auto& ring = outline.corners;
    for (std::size_t k = 0; k < ring.size(); ++k) {
      project.AddEdge(ids[ring[k]], ids[ring[(k + 1) % ring.size()]]);
    }
  }
  auto& house = project.AddObject("House");
  house.current = true;
  for (auto id : ids) house.AddPosition(id);

  std::string error;
  if (!modrin::images::WriteFileAtomically(folder + "/house.mpj",
                                           modrin::model::WriteProjectText(project), error)) {
    return Fail("cannot write " + folder + "/house.mpj: " + error);
  }
  if (!modrin::images::WriteFileAtomically(folder + "/truth.txt", truth, error)) {
    return Fail("cannot write " + folder + "/truth.txt: " + error);
  }
  return 0;
}
