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

// The model update with meshes: coordinates, faces photo by photo, and after each photo the
// mesh of every object for it. Returns the number of faces found.
std::size_t UpdateModelWithMeshes(model::Project& project);

}  // namespace modrin::mesh
