#pragma once

#include <cstddef>
#include <set>

#include "engine/face_finder.h"
#include "engine/geometry/camera_record.h"

namespace modrin::model {
class Object;
class ObjectPhotoMesh;
class Project;
}  // namespace modrin::model

namespace modrin::mesh {

// Rebuilds entry `photoIndex` of the object's `photoMeshes` in the photo's pixel plane: every
// position of the object with known coordinates and a point in the photo becomes a vertex (the
// lower id wins a shared pixel), the sides of the faces of `faces` traced in this photo become
// constraint segments, and the triangles inside their closed rings remain. Each vertex then
// takes its position's world coordinates and keeps the pixel's texture coordinates, and every
// triangle gets its normal (SetTriangleNormals, with the photo's camera). A photo without a
// decoded picture has no texture, so its mesh is left empty; so is a missing photo or mesh
// entry.
void BuildObjectPhotoMesh(model::Object& object, int photoIndex,
                          const std::set<engine::Face, engine::FaceOrder>& faces);

// Gives every triangle of a mesh whose corners hold world coordinates its unit normal, on the
// side that the photo of `camera` sees: toward the camera's centre once it is calibrated, else
// the side from which the corners run counter-clockwise. The builder makes the triangles
// counter-clockwise in the photo, so the two agree wherever the positions agree with their
// marks. A triangle whose corners lie on one line has no plane of its own and takes the
// direction from its centre to the camera's centre, or straight up (0, 0, 1) without a
// calibrated camera; no normal is ever NaN.
void SetTriangleNormals(model::ObjectPhotoMesh& mesh, const engine::CameraRecord& camera);

// The model update with meshes: coordinates, faces photo by photo, and the mesh of every object
// for every photo. Returns the number of faces found. The meshes of photos whose faces are found
// are built on `threads` threads (0: one per core) while later photos' faces are found; the
// result is the same for every thread count.
std::size_t UpdateModelWithMeshes(model::Project& project, int threads = 0);

}  // namespace modrin::mesh
