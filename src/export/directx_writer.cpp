#include "export/directx_writer.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "export/model_text.h"
#include "model/project.h"

namespace modrin::exporters {
namespace {

constexpr char kHeader[] = "xof 0302txt 0032\n";

constexpr char kIdentity[] =
    " FrameTransformMatrix {\n"
    "  1.000000,0.000000,0.000000,0.000000,\n"
    "  0.000000,1.000000,0.000000,0.000000,\n"
    "  0.000000,0.000000,1.000000,0.000000,\n"
    "  0.000000,0.000000,0.000000,1.000000;;\n"
    " }\n";

// "a;b;c;" of the numbers.
void AppendVector(std::string& out, std::initializer_list<double> values) {
  AppendNumbers(out, values, ";");
  out += ';';
}

// Ends element i of n of a list: "," between elements, ";" after the last.
void EndElement(std::string& out, std::size_t i, std::size_t n) {
  out += i + 1 < n ? ",\n" : ";\n";
}

void AppendFaces(std::string& out, const model::ObjectPhotoMesh& mesh, const char* indent) {
  const std::size_t count = mesh.triangleCount();
  out += indent;
  AppendNumber(out, static_cast<int>(count));
  out += ";\n";
  std::size_t i = 0;
  for (const model::MeshTriangle& triangle : mesh.triangles()) {
    out += indent;
    out += "3;";
    for (int k = 0; k < 3; ++k) {
      if (k > 0) out += ',';
      AppendNumber(out, VertexNumber(triangle.Corner(k)));
    }
    out += ';';
    EndElement(out, i++, count);
  }
}

// One vertex attribute per line: `write` appends its numbers.
template <typename Write>
void AppendVertexList(std::string& out, const model::ObjectPhotoMesh& mesh, const char* indent,
                      Write write) {
  const auto vertices = mesh.vertices();
  out += indent;
  AppendNumber(out, static_cast<int>(vertices.size()));
  out += ";\n";
  for (std::size_t i = 0; i < vertices.size(); ++i) {
    out += indent;
    write(*vertices[i]);
    EndElement(out, i, vertices.size());
  }
}

// A string in quotes; the file's strings know no escapes, so quotes are dropped and
// backslashes become '/'.
std::string QuotedPath(const std::string& path) {
  std::string text;
  for (const char c : path) {
    if (c == '"') continue;
    text += c == '\\' ? '/' : c;
  }
  return "\"" + text + "\"";
}

void WriteMesh(std::string& out, const model::ObjectPhotoMesh& mesh, const std::string& name,
               const std::string& texturePath) {
  out += " Mesh " + name + " {\n";
  AppendVertexList(out, mesh, "  ", [&](const model::MeshVertex& v) {
    AppendVector(out, {v.x, v.y, v.z});
  });
  AppendFaces(out, mesh, "  ");
  out += "  MeshNormals {\n";
  AppendVertexList(out, mesh, "   ", [&](const model::MeshVertex& v) {
    AppendVector(out, {v.nx, v.ny, v.nz});
  });
  AppendFaces(out, mesh, "   ");
  out += "  }\n  MeshTextureCoords {\n";
  AppendVertexList(out, mesh, "   ", [&](const model::MeshVertex& v) {
    AppendVector(out, {v.u, 1 - v.v});
  });
  out += "  }\n  MeshMaterialList {\n   1;\n   ";
  const std::size_t count = mesh.triangleCount();
  AppendNumber(out, static_cast<int>(count));
  out += ";\n";
  for (std::size_t i = 0; i < count; ++i) {
    out += "   0";
    EndElement(out, i, count);
  }
  out +=
      "   Material {\n"
      "    1.000000;1.000000;1.000000;1.000000;;\n"
      "    0.000000;\n"
      "    0.000000;0.000000;0.000000;;\n"
      "    0.000000;0.000000;0.000000;;\n"
      "    TextureFilename {\n"
      "     " +
      QuotedPath(texturePath) +
      ";\n"
      "    }\n"
      "   }\n"
      "  }\n"
      " }\n";
}

// `name`, or name_2, name_3, ... when taken: frames and meshes need unique names.
std::string UniqueName(std::set<std::string>& taken, const std::string& name) {
  std::string unique = name;
  for (int n = 2; !taken.insert(unique).second; ++n) unique = name + "_" + std::to_string(n);
  return unique;
}

}  // namespace

std::string DirectXName(const std::string& text) {
  std::string name;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    name += std::isalnum(byte) && byte < 0x80 ? c : '_';
  }
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name.front())))
    name.insert(name.begin(), '_');
  return name;
}

std::string WriteDirectXModel(const model::Project& project) {
  std::string out = kHeader;
  std::set<std::string> taken;
  for (const auto& object : project.objects) {
    if (!object->current) continue;
    const std::string frame = UniqueName(taken, DirectXName(object->name));
    out += "\nFrame " + frame + " {\n";
    out += kIdentity;
    for (std::size_t j = 0; j < object->photoMeshes.size() && j < project.photos.size(); ++j) {
      const model::ObjectPhotoMesh& mesh = *object->photoMeshes[j];
      if (mesh.triangleCount() == 0) continue;
      const std::string& path = project.photos[j]->path;
      WriteMesh(out, mesh, UniqueName(taken, DirectXName(object->name + "_" + BaseName(path))),
                path);
    }
    out += "}\n";
  }
  return out;
}

}  // namespace modrin::exporters
