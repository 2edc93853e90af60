#pragma once

#include <array>
#include <optional>

#include "engine/geometry/camera_record.h"
#include "engine/geometry/vec.h"

namespace modrin::engine {

// The camera frame: its first axis is the picture's u direction, its second the viewing
// direction, its third the picture's v direction. A normalized image point (u, v) is the
// camera-frame vector (u * cellWidth, focal, v * cellHeight), a point of the image plane.
//
// The rotation turning camera-frame vectors into world vectors, from (pitch, roll, yaw) in
// radians: R = Rz(-yaw) Rx(-pitch) Ry(-roll). At zero angles the camera looks along +y with u
// along +x and v along +z; yaw turns the view toward +x, a positive pitch tilts it toward -z.
struct Rotation {
  std::array<Vec3, 3> rows;

  // R v
  Vec3 Apply(const Vec3& v) const { return {Dot(rows[0], v), Dot(rows[1], v), Dot(rows[2], v)}; }
  // R^T v: the dot products of v with the columns of R.
  Vec3 ApplyInverse(const Vec3& v) const { return rows[0] * v.x + rows[1] * v.y + rows[2] * v.z; }
};

Rotation CameraRotation(const Vec3& orientation);

// The (pitch, roll, yaw) in radians whose CameraRotation is `rotation` (a proper rotation), with
// pitch in [-pi/2, pi/2] and roll and yaw in (-pi, pi], each then moved by whole turns to lie
// nearest the same angle of `near`. Looking straight up or down, roll and yaw turn about the same
// axis; roll keeps the angle of `near` and yaw takes the rest.
Vec3 OrientationOf(const Rotation& rotation, const Vec3& near = {});

// All mappings below need the camera's cameraEntry (sensor size); callers check it first.
// The overloads taking a Rotation use it in place of CameraRotation(camera.orientation), for
// callers that map many points at one pose.

// R c + translation: the world position of the image-plane point of (u, v).
Vec3 ImageToWorld(const CameraRecord& camera, double u, double v);
Vec3 ImageToWorld(const CameraRecord& camera, const Rotation& rotation, double u, double v);

// The normalized image point of a world point, and whether the point lies beyond the image
// plane in front of the camera. The image point is written in every case; for a point in the
// plane through the centre parallel to the image plane it is not finite and inFront is false.
struct ImageProjection {
  Vec2 image;
  bool inFront = false;
};
ImageProjection WorldToImage(const CameraRecord& camera, const Vec3& p);
ImageProjection WorldToImage(const CameraRecord& camera, const Rotation& rotation, const Vec3& p);

// Where the viewing ray of (u, v) meets the horizontal plane of height z. Empty when the ray is
// parallel to that plane (or the result is not finite).
std::optional<Vec3> RayAtHeight(const CameraRecord& camera, double u, double v, double z);
std::optional<Vec3> RayAtHeight(const CameraRecord& camera, const Rotation& rotation, double u,
                                double v, double z);

// The viewing ray of (u, v): origin at the centre of projection, direction from the image
// point back through the centre (translation - ImageToWorld).
Line3 ViewRay(const CameraRecord& camera, double u, double v);

// The point of camera A's viewing ray through image point a that is nearest to camera B's
// viewing ray through image point b (both normalized). Empty when the rays are parallel or
// the construction gives no finite point.
std::optional<Vec3> IntersectViewRays(const CameraRecord& cameraA, const Vec2& a,
                                      const CameraRecord& cameraB, const Vec2& b);

}  // namespace modrin::engine
