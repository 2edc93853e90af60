#include "export/save_model.h"

#include "export/directx_writer.h"
#include "export/gltf_writer.h"
#include "export/obj_writer.h"
#include "export/vrml_writer.h"
#include "images/file_io.h"
#include "model/photo.h"
#include "model/project.h"

namespace modrin::exporters {

ModelFormat ModelFormatOf(const std::string& fileName) {
  const std::string extension = model::LowerExtension(fileName);
  if (extension == "x") return ModelFormat::kDirectX;
  if (extension == "wrl") return ModelFormat::kVrml;
  if (extension == "obj") return ModelFormat::kObj;
  if (extension == "gltf") return ModelFormat::kGltf;
  if (extension == "glb") return ModelFormat::kGlb;
  return ModelFormat::kNone;
}

namespace {

SaveModelResult Write(const std::string& path, const std::string& text) {
  SaveModelResult result;
  std::string reason;
  result.ok = images::WriteFileAtomically(path, text, reason);
  if (!result.ok) result.error = "cannot write " + path + ": " + reason;
  return result;
}

}  // namespace

SaveModelResult SaveModel(const model::Project& project, const std::string& fileName) {
  const ModelFormat format = ModelFormatOf(fileName);
  if (format == ModelFormat::kNone) {
    return {false, "cannot save the model as \"" + fileName + "\": the name must end in " +
                       std::string(kModelExtensions)};
  }
  if (format == ModelFormat::kGltf || format == ModelFormat::kGlb) {
    const GltfResult written = WriteGltfModel(project, fileName);
    return {written.ok, written.error};
  }
  if (project.objects.empty()) return Write(fileName, "");
  switch (format) {
    case ModelFormat::kDirectX:
      return Write(fileName, WriteDirectXModel(project));
    case ModelFormat::kVrml:
      return Write(fileName, WriteVrmlModel(project));
    case ModelFormat::kObj: {
      ObjModel model = WriteObjModel(project, fileName);
      // Both or neither: an OBJ file naming a library that is not there would load untextured
      // without a word.
      std::string failed, reason;
      if (!images::WriteFilesAtomically(
              {{model.mtlPath, std::move(model.mtlText)}, {fileName, std::move(model.objText)}},
              failed, reason)) {
        return {false, "cannot write " + failed + ": " + reason};
      }
      return {true, {}};
    }
    case ModelFormat::kGltf:
    case ModelFormat::kGlb:
    case ModelFormat::kNone:
      break;
  }
  return {};
}

}  // namespace modrin::exporters
