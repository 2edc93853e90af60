#pragma once

#include <string>

namespace modrin::model {
class Project;
}

namespace modrin::exporters {

// The model formats, chosen by the file name's extension.
enum class ModelFormat { kNone, kDirectX, kVrml, kObj };

// ".x", ".wrl" or ".obj" at the end of `fileName`, in any letter case; kNone otherwise.
ModelFormat ModelFormatOf(const std::string& fileName);

struct SaveModelResult {
  bool ok = false;
  std::string error;  // what went wrong, naming the file, when !ok
};

// Writes the meshes of the last model update to `fileName` in the format of its extension
// (OBJ also writes its material library beside it). A project without objects gives an empty
// file. Files are replaced only when completely written; when the material library cannot be
// written, neither file is. An unknown extension is refused and nothing is written.
SaveModelResult SaveModel(const model::Project& project, const std::string& fileName);

}  // namespace modrin::exporters
