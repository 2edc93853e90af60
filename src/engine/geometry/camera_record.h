#pragma once

#include <cstddef>
#include <vector>

#include "engine/geometry/vec.h"

namespace modrin::images {
struct CameraEntry;
}

namespace modrin::engine {

// Marks a coordinate of a real point that the user left empty.
inline constexpr double UnknownCoordinate = 99999;

// The fewest correspondences whose real points can fix a pose: three fully known points off
// one line. Two never do (see control_points.cpp), so a photo with fewer is not tried.
inline constexpr std::size_t kMinControlPoints = 3;

// A marked image point in normalized coordinates and the world point it shows.
struct Correspondence {
  Vec2 image;
  Vec3 real;
};

// Progress display and cancel query of a long engine run; implemented by the GUI (status bar,
// Escape) and the command-line tool (terminal bar, Ctrl-C).
class Progress;

// The pinhole camera of one photo and its calibration state.
struct CameraRecord {
  bool calibrated = false;
  bool pending = false;
  const images::CameraEntry* cameraEntry = nullptr;  // sensor size; not owned
  double focal = 0;                                  // metres
  Vec3 translation{0.5, 0, 0};                       // centre of projection, world units
  Vec3 orientation{0, 0, 0};                         // pitch, roll, yaw in radians
  Progress* progress = nullptr;                      // set only inside one solver call
  std::vector<Correspondence> correspondences;

  void ClearCorrespondences() { correspondences.clear(); }
  std::size_t CountCorrespondences() const { return correspondences.size(); }
  void AddCorrespondence(const Vec2& image, const Vec3& real) {
    correspondences.push_back({image, real});
  }
};

}  // namespace modrin::engine
