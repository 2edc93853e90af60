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

// A list of `count` elements, one per line after the count: `write` appends an element's
// numbers.
template <typename Range, typename Write>
void AppendList(std::string& out, const Range& elements, std::size_t count, const char* indent,
                Write write) {
  out += indent;
  AppendNumber(out, static_cast<int>(count));
  out += ";\n";
  std::size_t i = 0;
  for (const auto& element : elements) {
    out += indent;
    write(element);
    EndElement(out, i++, count);
  }
}

// One vertex attribute per line: `write` appends its numbers.
template <typename Write>
void AppendVertexList(std::string& out, const model::ObjectPhotoMesh& mesh, const char* indent,
                      Write write) {
  AppendList(out, mesh.vertices(), mesh.vertices().size(), indent,
             [&](const model::MeshVertex* vertex) { write(*vertex); });
}

// One triangle per line: `write` appends its numbers.
template <typename Write>
void AppendTriangleList(std::string& out, const model::ObjectPhotoMesh& mesh, const char* indent,
                        Write write) {
  AppendList(out, mesh.triangles(), mesh.triangleCount(), indent, write);
}

// The triangles as faces of three indices: the corners' vertex numbers, or with `ownNumber`
// the triangle's place in the list at every corner.
void AppendFaces(std::string& out, const model::ObjectPhotoMesh& mesh, const char* indent,
                 bool ownNumber = false) {
  int number = 0;
  AppendTriangleList(out, mesh, indent, [&](const model::MeshTriangle& triangle) {
    out += "3;";
    for (int k = 0; k < 3; ++k) {
      if (k > 0) out += ',';
      AppendNumber(out, ownNumber ? number : VertexNumber(triangle.Corner(k)));
    }
    out += ';';
    ++number;
  });
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
  // One normal per triangle: every corner of a face takes the face's own.
  out += "  MeshNormals {\n";
  AppendTriangleList(out, mesh, "   ", [&](const model::MeshTriangle& triangle) {
    AppendVector(out, {triangle.normal[0], triangle.normal[1], triangle.normal[2]});
  });
  AppendFaces(out, mesh, "   ", true);
  out += "  }\n  MeshTextureCoords {\n";
  AppendVertexList(out, mesh, "   ", [&](const model::MeshVertex& v) {
    AppendVector(out, {v.u, 1 - v.v});
  });
  out += "  }\n  MeshMaterialList {\n   1;\n";
  AppendTriangleList(out, mesh, "   ", [&](const model::MeshTriangle&) { out += '0'; });
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
