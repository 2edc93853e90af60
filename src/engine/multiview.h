#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/geometry/vec.h"

namespace modrin::model {
class Photo;
class Project;
}  // namespace modrin::model

namespace modrin::engine {

// Whether the photo's marks can be turned into rays: it is calibrated and has its picture and a
// camera model.
bool CanMapPhoto(const model::Photo& photo);

// A position's mark in a photo that can map it, in normalized image coordinates.
struct MappedMark {
  std::size_t photo = 0;
  Vec2 image;
};

// The marks of position `id` in the photos that can map it, in photo order; empty for a
// missing id.
std::vector<MappedMark> MappedMarks(const model::Project& project, std::int32_t id);

// The point whose summed squared distance to the lines is least. Empty with fewer than two
// lines, when they are (nearly) parallel, or when a value is not finite.
std::optional<Vec3> NearestPointToLines(const std::vector<Line3>& lines);

// The least-squares point of the viewing rays of position `id` in every photo that can map it
// (CanMapPhoto). Empty when fewer than two such photos see it, the rays are nearly parallel, or
// the point does not lie in front of each of those cameras.
std::optional<Vec3> TriangulatePosition(const model::Project& project, std::int32_t id);

}  // namespace modrin::engine
