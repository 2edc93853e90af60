#include "export/vrml_writer.h"

#include <algorithm>

#include "export/model_text.h"
#include "model/project.h"

namespace modrin::exporters {
namespace {

constexpr char kHeader[] =
    "#VRML V2.0 utf8\n"
    "\n"
    "NavigationInfo {\n"
    "   type \"EXAMINE\"\n"
    "}\n";

constexpr char kAppearance[] =
    "  Shape {\n"
    "   appearance DEF _APP0 Appearance {\n"
    "    material DEF _MAT0 Material {\n"
    "     ambientIntensity 0.170000\n"
    "     diffuseColor     1.000000 1.000000 1.000000\n"
    "     emissiveColor    0.016000 0.016000 0.016000\n"
    "     shininess        0.000000\n"
    "     specularColor    0.000000 0.000000 0.000000\n"
    "     transparency     0.000000\n"
    "    }\n"
    "    texture DEF _TXT0 ImageTexture {\n";

// One "a, b, c, -1," line per triangle after `indent`.
void AppendTriangleIndices(std::string& out, const model::ObjectPhotoMesh& mesh,
                           const char* indent) {
  for (const model::MeshTriangle& triangle : mesh.triangles()) {
    out += indent;
    for (int k = 0; k < 3; ++k) {
      AppendNumber(out, VertexNumber(triangle.Corner(k)));
      out += ", ";
    }
    out += "-1,\n";
  }
}

// One point of a point list: "      a b c,".
void AppendPoint(std::string& out, std::initializer_list<double> values) {
  out += "      ";
  AppendNumbers(out, values, " ");
  out += ",\n";
}

}  // namespace

std::string TextureUrl(const std::string& path) {
  std::string url = path;
  std::replace(url.begin(), url.end(), '\\', '/');
  return url.starts_with("http") ? url : "file://" + url;
}

void WriteVrmlShape(const model::ObjectPhotoMesh& mesh, std::string& out,
                    const std::string& texturePath) {
  if (mesh.vertices().empty()) return;
  out += kAppearance;
  out += "     url \"" + TextureUrl(texturePath) + "\"\n";
  out += "    }\n   }\n   geometry IndexedFaceSet {\n    coord Coordinate {\n     point [\n";
  for (const model::MeshVertex* v : mesh.vertices()) AppendPoint(out, {v->x, v->y, v->z});
  out += "     ]\n    }\n    coordIndex [\n";
  AppendTriangleIndices(out, mesh, "     ");
  // One normal per triangle, in triangle order.
  out += "    ]\n    normalPerVertex FALSE\n    normal Normal {\n     vector [\n";
  for (const model::MeshTriangle& triangle : mesh.triangles()) {
    const auto& n = triangle.normal;
    AppendPoint(out, {n[0], n[1], n[2]});
  }
  out += "     ]\n    }\n    texCoord TextureCoordinate {\n     point [\n";
  for (const model::MeshVertex* v : mesh.vertices()) AppendPoint(out, {v->u, v->v});
  out += "     ]\n    }\n    texCoordIndex [\n";
  AppendTriangleIndices(out, mesh, "    ");
  out += "    ]\n   }\n  }\n";
}

std::string WriteVrmlModel(const model::Project& project) {
  std::string out = kHeader;
  for (const auto& object : project.objects) {
    if (!object->current) continue;
    out += "\nGroup { # " + object->name + "\n children [\n";
    for (std::size_t j = 0; j < object->photoMeshes.size() && j < project.photos.size(); ++j) {
      WriteVrmlShape(*object->photoMeshes[j], out, project.photos[j]->path);
    }
    out += " ]\n}\n";
  }
  return out;
}

}  // namespace modrin::exporters
