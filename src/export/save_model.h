#pragma once

#include <string>

namespace modrin::model {
class Project;
}

namespace modrin::exporters {

// The model formats, chosen by the file name's extension.
enum class ModelFormat { kNone, kDirectX, kVrml, kObj, kGltf, kGlb };

// The extensions SaveModel knows, for messages.
inline constexpr char kModelExtensions[] = ".obj, .wrl, .x, .gltf or .glb";

// ".x", ".wrl", ".obj", ".gltf" or ".glb" at the end of `fileName`, in any letter case; kNone
// otherwise.
ModelFormat ModelFormatOf(const std::string& fileName);

struct SaveModelResult {
  bool ok = false;
  std::string error;  // what went wrong, naming the file, when !ok
};

// Writes the meshes of the last model update to `fileName` in the format of its extension
// (OBJ also writes its material library beside it, glTF JSON its buffer). A project without
// objects gives an empty file, except in glTF, which refuses a model without a current object.
// Files are replaced only when completely written; when the material library cannot be written,
// neither file is. An unknown extension is refused and nothing is written.
SaveModelResult SaveModel(const model::Project& project, const std::string& fileName);

}  // namespace modrin::exporters
