#pragma once

#include <string>

#include "model/object_photo_mesh.h"

namespace modrin::model {
class Project;
}

namespace modrin::exporters {

// A Wavefront OBJ model and its material library, as text.
struct ObjModel {
  std::string objText;
  std::string mtlPath;  // beside the OBJ file: its folder, its name without extension, ".mtl"
  std::string mtlText;
};

// The model of every current object: one group per object and photo (named object_photo),
// each with its own vertices, texture coordinates and triangle normals, and one material per
// photo whose texture map is the photo file itself.
ObjModel WriteObjModel(const model::Project& project, const std::string& objPath);

// Appends one material block for the photo at `texturePath` and returns its name: the file
// name without folder and extension.
std::string WriteMaterial(std::string& mtl, const std::string& texturePath);

// Where the indices of the next group start: vertices and texture coordinates share their
// numbers, one per vertex; normals have their own, one per triangle.
struct ObjIndexBase {
  int vertex = 1;
  int normal = 1;
};

// Appends one group block. Indices count from `base`, which then grows by the mesh's vertex
// count (also vertices no triangle uses) and its triangle count.
void WriteObjGroup(const model::ObjectPhotoMesh& mesh, std::string& obj, ObjIndexBase& base,
                   const std::string& objectName, int groupNumber, const std::string& materialName);

// The material library's path for an OBJ path: folder kept, extension replaced by ".mtl".
std::string MtlPathFor(const std::string& objPath);

}  // namespace modrin::exporters
