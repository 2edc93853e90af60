#pragma once

#include <cstddef>
#include <set>

#include "engine/face_finder.h"

namespace modrin::model {
class Object;
class Project;
}  // namespace modrin::model

namespace modrin::mesh {

// Rebuilds entry `photoIndex` of the object's `photoMeshes` in the photo's pixel plane: every
// position of the object with known coordinates and a point in the photo becomes a vertex (the
// lower id wins a shared pixel), the sides of the faces of `faces` traced in this photo become
// constraint segments, and the triangles inside their closed rings remain. Each vertex then
// takes its position's world coordinates, keeps the pixel's texture coordinates and gets the
// normal (0, -1, 0). A photo without a decoded picture has no texture, so its mesh is left
// empty; so is a missing photo or mesh entry.
void BuildObjectPhotoMesh(model::Object& object, int photoIndex,
                          const std::set<engine::Face, engine::FaceOrder>& faces);

// The model update with meshes: coordinates, faces photo by photo, and the mesh of every object
// for every photo. Returns the number of faces found. The meshes of photos whose faces are found
// are built on `threads` threads (0: one per core) while later photos' faces are found; the
// result is the same for every thread count.
std::size_t UpdateModelWithMeshes(model::Project& project, int threads = 0);

}  // namespace modrin::mesh
