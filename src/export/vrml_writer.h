#pragma once

#include <string>

#include "model/object_photo_mesh.h"

namespace modrin::model {
class Project;
}

namespace modrin::exporters {

// The model as a VRML 2.0 text: a Group per current object and a textured IndexedFaceSet per
// photo mesh with vertices, whose texture is the photo file by URL.
std::string WriteVrmlModel(const model::Project& project);

// Appends one Shape for the mesh, textured with the photo at `texturePath`; nothing for a mesh
// without vertices.
void WriteVrmlShape(const model::ObjectPhotoMesh& mesh, std::string& out,
                    const std::string& texturePath);

// The texture URL of a photo path: backslashes become '/', and a path that is not a web
// address gets the "file://" scheme.
std::string TextureUrl(const std::string& path);

}  // namespace modrin::exporters
