#include "export/obj_writer.h"

#include <vector>

#include "export/model_text.h"
#include "model/project.h"
#include "model/project_document.h"

namespace modrin::exporters {

std::string MtlPathFor(const std::string& objPath) {
  const std::size_t slash = objPath.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "" : objPath.substr(0, slash + 1);
  return folder + BaseName(objPath) + ".mtl";
}

std::string WriteMaterial(std::string& mtl, const std::string& texturePath) {
  const std::string name = BaseName(texturePath);
  mtl += "newmtl " + name + "\n";
  mtl += "Ka 1.000000 1.000000 1.000000\n";
  mtl += "Kd 1.000000 1.000000 1.000000\n";
  mtl += "Ks 0.000000 0.000000 0.000000\n";
  mtl += "illum 2\n";
  mtl += "map_Kd " + texturePath + "\n";
  return name;
}

namespace {

// "tag a b c" or "tag a b" and a line end.
void AppendLine(std::string& out, const char* tag, std::initializer_list<double> values) {
  out += tag;
  out += ' ';
  AppendNumbers(out, values, " ");
  out += '\n';
}

}  // namespace

void WriteObjGroup(const model::ObjectPhotoMesh& mesh, std::string& obj, ObjIndexBase& base,
                   const std::string& objectName, int groupNumber,
                   const std::string& materialName) {
  obj += "#Vertices\n";
  for (const model::MeshVertex* v : mesh.vertices()) AppendLine(obj, "v", {v->x, v->y, v->z});
  obj += "#Normals\n";
  for (const model::MeshTriangle& triangle : mesh.triangles()) {
    const auto& n = triangle.normal;
    AppendLine(obj, "vn", {n[0], n[1], n[2]});
  }
  obj += "#Texture coordinates\n";
  for (const model::MeshVertex* v : mesh.vertices()) AppendLine(obj, "vt", {v->u, v->v});
  obj += "#Polygons\n";
  obj += "g " + objectName + "_";
  AppendNumber(obj, groupNumber);
  obj += "\nusemtl " + materialName + "\n";
  int normal = base.normal;
  for (const model::MeshTriangle& triangle : mesh.triangles()) {
    obj += 'f';
    for (int k = 0; k < 3; ++k) {
      const int index = base.vertex + VertexNumber(triangle.Corner(k));
      obj += ' ';
      AppendNumber(obj, index);
      obj += '/';
      AppendNumber(obj, index);
      obj += '/';
      AppendNumber(obj, normal);
    }
    obj += '\n';
    ++normal;
  }
  base.vertex += static_cast<int>(mesh.vertices().size());
  base.normal = normal;
}

ObjModel WriteObjModel(const model::Project& project, const std::string& objPath) {
  ObjModel model;
  model.mtlPath = MtlPathFor(objPath);
  model.mtlText = "# Created with Modrin\n";
  model.objText = "mtllib " + model::FileNamePart(model.mtlPath) + "\n";
  std::vector<std::string> materials;
  for (const auto& photo : project.photos) {
    materials.push_back(WriteMaterial(model.mtlText, photo->path));
  }
  ObjIndexBase base;
  for (const auto& object : project.objects) {
    if (!object->current) continue;
    for (std::size_t j = 0; j < object->photoMeshes.size() && j < materials.size(); ++j) {
      WriteObjGroup(*object->photoMeshes[j], model.objText, base, object->name, static_cast<int>(j),
                    materials[j]);
    }
  }
  return model;
}

}  // namespace modrin::exporters
