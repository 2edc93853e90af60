#pragma once

namespace modrin::model {

// The textured triangle mesh of one object in one photo. Built by the mesh builder; the project
// keeps exactly one per object and photo.
struct ObjectPhotoMesh {};

}  // namespace modrin::model
