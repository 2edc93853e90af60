#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "engine/reconstruction.h"
#include "export/directx_writer.h"
#include "export/gltf_writer.h"
#include "export/obj_writer.h"
#include "export/save_model.h"
#include "export/vrml_writer.h"
#include "images/jpeg_writer.h"
#include "mesh/mesh_builder.h"
#include "model/project.h"
#include "model/project_document.h"
#include "square_project.h"
#include "temp_dir.h"

namespace modrin::exporters {
namespace {

using testing::SquareProject;

TEST(ObjWriterTest, GroupsPerObjectAndPhotoWithRunningIndices) {
  SquareProject square({"A", "B"});
  mesh::UpdateModelWithMeshes(square.project);
  const ObjModel model = WriteObjModel(square.project, "/out/model.v1.obj");
  EXPECT_EQ(model.mtlPath, "/out/model.v1.mtl");
  EXPECT_TRUE(model.objText.starts_with("mtllib model.v1.mtl\n"));
  // Four groups; B's photo-0 group starts after A's four vertices and its two triangles'
  // normals.
  for (const char* group : {"g A_0\n", "g A_1\n", "g B_0\n", "g B_1\n"}) {
    EXPECT_NE(model.objText.find(group), std::string::npos) << group;
  }
  EXPECT_NE(model.objText.find("usemtl back\n"), std::string::npos);
  const std::size_t groupB = model.objText.find("g B_0\n");
  EXPECT_NE(model.objText.find(" 5/5/4", groupB), std::string::npos);
  EXPECT_EQ(model.objText.find(" 9/9/"), std::string::npos);
  EXPECT_EQ(model.objText.find("/5\n"), std::string::npos);
  EXPECT_NE(model.mtlText.find("newmtl front\n"), std::string::npos);
  EXPECT_NE(model.mtlText.find("map_Kd C:\\photos\\front.jpg\n"), std::string::npos);
}

TEST(ObjWriterTest, NamesWithoutFolderOrExtension) {
  EXPECT_EQ(MtlPathFor("model.obj"), "model.mtl");
  EXPECT_EQ(MtlPathFor("C:\\models\\house.obj"), "C:\\models\\house.mtl");
  EXPECT_EQ(MtlPathFor("/a.b/model"), "/a.b/model.mtl");
  std::string mtl;
  EXPECT_EQ(WriteMaterial(mtl, "photo"), "photo");
  EXPECT_EQ(WriteMaterial(mtl, "/x.d/photo"), "photo");
}

TEST(VrmlWriterTest, EmptyMeshesAndNonCurrentObjects) {
  SquareProject square({"A"});
  // Before any model update every mesh is empty: an empty group.
  EXPECT_EQ(WriteVrmlModel(square.project),
            "#VRML V2.0 utf8\n\nNavigationInfo {\n   type \"EXAMINE\"\n}\n"
            "\nGroup { # A\n children [\n ]\n}\n");
  square.project.objects[0]->current = false;
  EXPECT_EQ(WriteVrmlModel(square.project),
            "#VRML V2.0 utf8\n\nNavigationInfo {\n   type \"EXAMINE\"\n}\n");
  EXPECT_EQ(TextureUrl("C:\\photos\\front.jpg"), "file://C:/photos/front.jpg");
  EXPECT_EQ(TextureUrl("http://host/a\\b.jpg"), "http://host/a/b.jpg");
  EXPECT_EQ(TextureUrl("/home/me/a.jpg"), "file:///home/me/a.jpg");
}

TEST(DirectXWriterTest, NamesAreIdentifiers) {
  EXPECT_EQ(DirectXName("Roof 2"), "Roof_2");
  EXPECT_EQ(DirectXName("2nd"), "_2nd");
  EXPECT_EQ(DirectXName(""), "_");
  SquareProject square({"My house", "My-house"});
  mesh::UpdateModelWithMeshes(square.project);
  const std::string text = WriteDirectXModel(square.project);
  EXPECT_NE(text.find("Frame My_house {"), std::string::npos);
  EXPECT_NE(text.find("Frame My_house_2 {"), std::string::npos);
  // Only photo 0 has triangles, so one mesh per frame.
  EXPECT_NE(text.find("Mesh My_house_front {"), std::string::npos);
  EXPECT_EQ(text.find("_back"), std::string::npos);
}

TEST(SaveModelTest, FormatByExtensionAndFailuresReported) {
  testing::TempDir dir;
  SquareProject square({"A"});
  mesh::UpdateModelWithMeshes(square.project);
  EXPECT_EQ(ModelFormatOf("a.OBJ"), ModelFormat::kObj);
  EXPECT_EQ(ModelFormatOf("a.vrml"), ModelFormat::kNone);

  const SaveModelResult unknown = SaveModel(square.project, dir.File("model.vrml"));
  EXPECT_FALSE(unknown.ok);
  EXPECT_FALSE(std::filesystem::exists(dir.File("model.vrml")));

  ASSERT_TRUE(SaveModel(square.project, dir.File("model.obj")).ok);
  EXPECT_TRUE(std::filesystem::exists(dir.File("model.mtl")));

  // The library cannot be written (a folder is in the way): neither file is.
  std::filesystem::create_directory(dir.File("blocked.mtl"));
  const SaveModelResult blocked = SaveModel(square.project, dir.File("blocked.obj"));
  EXPECT_FALSE(blocked.ok);
  EXPECT_NE(blocked.error.find("blocked.mtl"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("blocked.obj")));

  const SaveModelResult missingFolder = SaveModel(square.project, dir.File("no/such.wrl"));
  EXPECT_FALSE(missingFolder.ok);

  model::Project empty;
  ASSERT_TRUE(SaveModel(empty, dir.File("empty.x")).ok);
  EXPECT_EQ(std::filesystem::file_size(dir.File("empty.x")), 0u);
}

// A glTF model as tinygltf reads it back; `ok` false with the loader's message otherwise.
struct LoadedGltf {
  bool ok = false;
  std::string message;
  tinygltf::Model model;
};

LoadedGltf LoadGltf(const std::string& bytes, bool binary, const std::string& folder = "") {
  LoadedGltf loaded;
  tinygltf::TinyGLTF loader;
  std::string warning;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  loaded.ok =
      binary ? loader.LoadBinaryFromMemory(&loaded.model, &loaded.message, &warning, data,
                                           static_cast<unsigned>(bytes.size()), folder)
             : loader.LoadASCIIFromString(&loaded.model, &loaded.message, &warning, bytes.c_str(),
                                          static_cast<unsigned>(bytes.size()), folder);
  loaded.message += warning;
  return loaded;
}

// The floats of an accessor, packed.
std::vector<float> Floats(const tinygltf::Model& model, int accessorIndex) {
  const tinygltf::Accessor& accessor = model.accessors.at(accessorIndex);
  const tinygltf::BufferView& view = model.bufferViews.at(accessor.bufferView);
  const auto* first = reinterpret_cast<const float*>(model.buffers.at(view.buffer).data.data() +
                                                     view.byteOffset + accessor.byteOffset);
  return {first, first + view.byteLength / sizeof(float)};
}

// Turns glTF's y-up world back into Modrin's z-up one.
engine::Vec3 ZUp(const std::vector<float>& values, std::size_t vertex) {
  return {values[3 * vertex], -values[3 * vertex + 2], values[3 * vertex + 1]};
}

// The square project with its photos written as JPEG files into `dir` (the first in a folder
// with a space in its name), meshes built.
struct SquareWithPhotoFiles {
  SquareWithPhotoFiles(const testing::TempDir& dir, const std::vector<std::string>& objects)
      : square(objects) {
    std::filesystem::create_directory(dir.File("my photos"));
    square.project.photos[0]->path = dir.File("my photos/front.jpg");
    square.project.photos[1]->path = dir.File("back.jpg");
    for (const auto& photo : square.project.photos) {
      EXPECT_TRUE(images::WriteJpegFile(photo->path, photo->image(), 90, std::nullopt));
    }
    mesh::UpdateModelWithMeshes(square.project);
  }
  testing::SquareProject square;
};

// Two objects of one name and a photo without triangles: one node per object, names made
// unique, a primitive and a material for the textured photo only, the square's corners back
// in z-up coordinates and its texture rows counted from the top.
TEST(GltfWriterTest, NodesPrimitivesAndMaterialsOfTheModel) {
  testing::TempDir dir;
  SquareWithPhotoFiles scene(dir, {"Wall", "Wall", "Wall 2", "Hidden"});
  model::Project& project = scene.square.project;
  project.objects[1]->name = "Wall";  // as a renamed object may be
  project.objects[2]->name = "Wall 2";
  project.objects[3]->current = false;
  for (const bool binary : {true, false}) {
    GltfFiles files;
    const std::string out = dir.File("out");
    std::filesystem::create_directory(out);
    ASSERT_TRUE(BuildGltf(project, binary, {}, out, "model.bin", files).ok);
    ASSERT_TRUE(testing::WriteFileText(out + "/model.bin", files.buffer));
    const LoadedGltf loaded = LoadGltf(files.main, binary, out);
    ASSERT_TRUE(loaded.ok) << loaded.message;
    const tinygltf::Model& gltf = loaded.model;
    ASSERT_EQ(gltf.nodes.size(), 3u);
    EXPECT_EQ(gltf.nodes[0].name, "Wall");
    EXPECT_EQ(gltf.nodes[1].name, "Wall 2");
    EXPECT_EQ(gltf.nodes[2].name, "Wall 2 2");  // its own name was given to the copy
    EXPECT_EQ(gltf.scenes.at(0).nodes, (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(gltf.materials.size(), 1u);
    EXPECT_EQ(gltf.materials[0].name, "front");
    EXPECT_TRUE(gltf.materials[0].extensions.contains("KHR_materials_unlit"));
    EXPECT_EQ(gltf.extensionsUsed, (std::vector<std::string>{"KHR_materials_unlit"}));
    if (binary) {
      EXPECT_EQ(gltf.images.at(0).mimeType, "image/jpeg");
      EXPECT_EQ(gltf.images.at(0).width, 100);
    } else {
      EXPECT_EQ(files.bufferUri, "model.bin");
      EXPECT_EQ(gltf.buffers.at(0).uri, "model.bin");
      EXPECT_EQ(gltf.images.at(0).uri, "../my%20photos/front.jpg");
      EXPECT_EQ(gltf.buffers.at(0).data.size(), files.buffer.size());
      EXPECT_EQ(gltf.images.at(0).width, 100);  // read from the photo file
      continue;
    }
    ASSERT_EQ(gltf.meshes.size(), 3u);
    const tinygltf::Primitive& primitive = gltf.meshes[0].primitives.at(0);
    const tinygltf::Accessor& position = gltf.accessors.at(primitive.attributes.at("POSITION"));
    EXPECT_EQ(position.count, 6u);  // two triangles, three vertices each
    EXPECT_EQ(position.minValues, (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(position.maxValues, (std::vector<double>{1, 1, 0}));  // z up is y; y is -z
    const std::vector<float> points = Floats(gltf, primitive.attributes.at("POSITION"));
    const std::vector<float> uv = Floats(gltf, primitive.attributes.at("TEXCOORD_0"));
    for (std::size_t v = 0; v < 6; ++v) {
      const engine::Vec3 p = ZUp(points, v);
      // The corner's pixel: x 10..60 left to right; z 0..1 is the photo's y 10..50 upwards,
      // so the top row of the texture is v = 0.
      const double expectedV = 1 - (p.z > 0.5 ? 49.0 : 11.0) / 80;
      EXPECT_NEAR(uv[2 * v + 1], expectedV, 0.02) << v;
    }
  }
}

// Shrunk textures fit the largest side asked for, with power-of-two sides when asked, and a
// lower JPEG quality gives a smaller file.
TEST(GltfWriterTest, ShrunkTexturesFitAndFollowTheQuality) {
  testing::SquareProject square({"A"});
  mesh::UpdateModelWithMeshes(square.project);
  // A picture with detail, so that the quality matters.
  images::DecodedImage& picture = *square.project.photos[0]->levels.front();
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = (i * 37 % 251);
  const struct {
    GltfTextureOptions options;
    int width, height;
  } cases[] = {
      {{64, 90, false}, 64, 51},     // 100 x 80 shrunk to a longest side of 64
      {{64, 90, true}, 64, 64},      // powers of two within 64 and the sides
      {{50, 90, true}, 32, 32},      // not a power of two itself
      {{1000, 90, false}, 100, 80},  // never grown
  };
  std::size_t size90 = 0;
  for (const auto& c : cases) {
    GltfFiles files;
    ASSERT_TRUE(BuildGltf(square.project, true, c.options, ".", "", files).ok);
    const LoadedGltf loaded = LoadGltf(files.main, true);
    ASSERT_TRUE(loaded.ok) << loaded.message;
    EXPECT_EQ(loaded.model.images.at(0).width, c.width);
    EXPECT_EQ(loaded.model.images.at(0).height, c.height);
    if (c.options.maxSide == 64 && !c.options.powerOfTwo) size90 = files.main.size();
  }
  GltfFiles low;
  ASSERT_TRUE(BuildGltf(square.project, true, {64, 10, false}, ".", "", low).ok);
  EXPECT_LT(low.main.size(), size90);
}

// Nothing to write, or a photo that cannot be read: an error that names it, and no file.
TEST(GltfWriterTest, FailuresNameTheCauseAndWriteNothing) {
  testing::TempDir dir;
  SquareWithPhotoFiles scene(dir, {"A"});
  model::Project& project = scene.square.project;
  // A folder where the .gltf goes: its buffer is not written either.
  std::filesystem::create_directory(dir.File("blocked.gltf"));
  EXPECT_NE(SaveModel(project, dir.File("blocked.gltf")).error.find("blocked.gltf"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("blocked.bin")));
  std::filesystem::remove(project.photos[0]->path);
  for (const char* name : {"model.glb", "model.gltf"}) {
    const SaveModelResult saved = SaveModel(project, dir.File(name));
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.error.find("front.jpg"), std::string::npos) << saved.error;
  }
  project.objects[0]->current = false;
  const SaveModelResult none = SaveModel(project, dir.File("model.glb"));
  EXPECT_NE(none.error.find("no current object"), std::string::npos) << none.error;
  for (const char* name : {"model.glb", "model.gltf", "model.bin"}) {
    EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
  }
}

// A triangle as a model file gives it: its corners, the normal at each, and the photo whose
// texture it carries.
struct FileTriangle {
  int photo = -1;
  std::array<engine::Vec3, 3> corners;
  std::array<engine::Vec3, 3> normals;
};

// The numbers and words of a model text, with `separators` read as spaces.
std::vector<std::string> Words(const std::string& text, const std::string& separators) {
  std::string spaced = text;
  for (char& c : spaced) {
    if (separators.find(c) != std::string::npos) c = ' ';
  }
  std::istringstream in(spaced);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

double Number(const std::string& word) {
  std::istringstream in(word);
  in.imbue(std::locale::classic());
  double value = 0;
  in >> value;
  return value;
}

// The vectors of a list from `at` on, `n` of them; `at` moves past them.
std::vector<engine::Vec3> Vectors(const std::vector<std::string>& words, std::size_t& at,
                                  std::size_t n) {
  std::vector<engine::Vec3> vectors;
  for (std::size_t i = 0; i < n; ++i, at += 3) {
    vectors.push_back({Number(words.at(at)), Number(words.at(at + 1)), Number(words.at(at + 2))});
  }
  return vectors;
}

// "g OBJECT_PHOTO" groups of "f v/t/n" triangles over running v and vn lists.
std::vector<FileTriangle> ReadObj(const std::string& text, const model::Project&) {
  std::vector<engine::Vec3> points, normals;
  std::vector<FileTriangle> triangles;
  int photo = -1;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> words = Words(line, "/");
    if (words.empty()) continue;
    std::size_t at = 1;
    if (words[0] == "v") points.push_back(Vectors(words, at, 1)[0]);
    if (words[0] == "vn") normals.push_back(Vectors(words, at, 1)[0]);
    if (words[0] == "g") photo = std::atoi(words[1].substr(words[1].rfind('_') + 1).c_str());
    if (words[0] != "f") continue;
    FileTriangle& triangle = triangles.emplace_back();
    triangle.photo = photo;
    for (int k = 0; k < 3; ++k) {
      triangle.corners[k] = points.at(std::atoi(words[1 + 3 * k].c_str()) - 1);
      triangle.normals[k] = normals.at(std::atoi(words[3 + 3 * k].c_str()) - 1);
    }
  }
  return triangles;
}

// The photo whose file a texture reference ends with.
int PhotoOf(const std::string& reference, const model::Project& project) {
  for (std::size_t p = 0; p < project.photos.size(); ++p) {
    if (reference.ends_with(model::FileNamePart(project.photos[p]->path))) {
      return static_cast<int>(p);
    }
  }
  return -1;
}

// Shapes of "url", "point [...]" and "coordIndex [...]" with one normal per face.
std::vector<FileTriangle> ReadVrml(const std::string& text, const model::Project& project) {
  const std::vector<std::string> words = Words(text, ",\"");
  std::vector<FileTriangle> triangles;
  int photo = -1;
  std::vector<engine::Vec3> points;
  std::vector<std::array<int, 3>> faces;
  for (std::size_t at = 0; at < words.size(); ++at) {
    if (words[at] == "url") photo = PhotoOf(words[at + 1], project);
    if (words[at] == "Coordinate") {
      at += 4;  // Coordinate { point [
      const std::size_t end = std::find(words.begin() + at, words.end(), "]") - words.begin();
      points = Vectors(words, at, (end - at) / 3);
    }
    if (words[at] == "coordIndex") {
      faces.clear();
      for (at += 2; words[at] != "]"; at += 4) {
        faces.push_back({std::atoi(words[at].c_str()), std::atoi(words[at + 1].c_str()),
                         std::atoi(words[at + 2].c_str())});
      }
    }
    if (words[at] == "Normal") {
      at += 4;  // Normal { vector [
      for (const std::array<int, 3>& face : faces) {
        FileTriangle& triangle = triangles.emplace_back();
        triangle.photo = photo;
        const engine::Vec3 normal = Vectors(words, at, 1)[0];
        for (int k = 0; k < 3; ++k) {
          triangle.corners[k] = points.at(face[k]);
          triangle.normals[k] = normal;
        }
      }
    }
  }
  return triangles;
}

// Meshes of vertices and faces, then MeshNormals of normals and faces that index them, then
// the texture's file name.
std::vector<FileTriangle> ReadDirectX(const std::string& text, const model::Project& project) {
  const std::vector<std::string> words = Words(text, ";,\"");
  std::vector<FileTriangle> triangles;
  for (std::size_t at = 0; at < words.size(); ++at) {
    if (words[at] != "Mesh") continue;
    at += 3;  // Mesh NAME {
    auto vectors = [&] {
      const std::size_t n = std::atoi(words.at(at++).c_str());
      return Vectors(words, at, n);
    };
    auto faces = [&] {
      std::vector<std::array<int, 3>> list(std::atoi(words.at(at++).c_str()));
      for (auto& face : list) {
        for (int k = 0; k < 3; ++k) face[k] = std::atoi(words.at(at + 1 + k).c_str());
        at += 4;  // 3 a b c
      }
      return list;
    };
    const std::vector<engine::Vec3> points = vectors();
    const std::vector<std::array<int, 3>> corners = faces();
    at += 2;  // MeshNormals {
    const std::vector<engine::Vec3> normals = vectors();
    const std::vector<std::array<int, 3>> normalFaces = faces();
    at = std::find(words.begin() + at, words.end(), "TextureFilename") - words.begin();
    const int photo = PhotoOf(words.at(at + 2), project);
    for (std::size_t f = 0; f < corners.size(); ++f) {
      FileTriangle& triangle = triangles.emplace_back();
      triangle.photo = photo;
      for (int k = 0; k < 3; ++k) {
        triangle.corners[k] = points.at(corners[f][k]);
        triangle.normals[k] = normals.at(normalFaces.at(f)[k]);
      }
    }
  }
  return triangles;
}

// Every primitive's triangles, with the photo its material's image is named after.
std::vector<FileTriangle> ReadGltf(const std::string& bytes, const model::Project& project) {
  const LoadedGltf loaded = LoadGltf(bytes, true);
  EXPECT_TRUE(loaded.ok) << loaded.message;
  std::vector<FileTriangle> triangles;
  for (const tinygltf::Mesh& mesh : loaded.model.meshes) {
    for (const tinygltf::Primitive& primitive : mesh.primitives) {
      const tinygltf::Material& material = loaded.model.materials.at(primitive.material);
      const int texture = material.pbrMetallicRoughness.baseColorTexture.index;
      const std::string& image =
          loaded.model.images.at(loaded.model.textures.at(texture).source).name;
      const std::vector<float> points = Floats(loaded.model, primitive.attributes.at("POSITION"));
      const std::vector<float> normals = Floats(loaded.model, primitive.attributes.at("NORMAL"));
      for (std::size_t v = 0; v + 2 < points.size() / 3; v += 3) {
        FileTriangle& triangle = triangles.emplace_back();
        triangle.photo = PhotoOf(image + ".jpg", project);
        for (std::size_t k = 0; k < 3; ++k) {
          triangle.corners[k] = ZUp(points, v + k);
          triangle.normals[k] = ZUp(normals, v + k);
        }
      }
    }
  }
  return triangles;
}

std::string GlbOf(const model::Project& project) {
  GltfFiles files;
  EXPECT_TRUE(BuildGltf(project, true, GltfTextureOptions{}, ".", "", files).ok);
  return files.main;
}

// The house sample, every photo calibrated, with its meshes. Every triangle of every format
// carries at each corner a unit normal at right angles to its sides, on the side of the camera
// whose photo gives its texture, where the corners also turn counter-clockwise (the front face
// of the files' readers).
TEST(ModelNormalsTest, HouseTrianglesFaceTheirPhotosCamera) {
  model::DocumentHost host;
  model::ProjectDocument document(host);
  const std::string sample = std::string(std::getenv("MODRIN_SOURCE_DIR")) + "/examples/house";
  ASSERT_TRUE(document.OpenPath(sample + "/house.mpj").ok());
  model::Project& house = document.project();
  for (auto& photo : house.photos) photo->camera.pending = true;
  engine::RunCalibration(house);
  mesh::UpdateModelWithMeshes(house);

  const struct {
    const char* format;
    std::string text;
    std::function<std::vector<FileTriangle>(const std::string&, const model::Project&)> read;
  } files[] = {
      {"OBJ", WriteObjModel(house, "house.obj").objText, ReadObj},
      {"VRML", WriteVrmlModel(house), ReadVrml},
      {"DirectX", WriteDirectXModel(house), ReadDirectX},
      {"glTF", GlbOf(house), ReadGltf},
  };
  for (const auto& file : files) {
    const std::vector<FileTriangle> triangles = file.read(file.text, house);
    EXPECT_EQ(triangles.size(), 14u) << file.format;
    for (const FileTriangle& triangle : triangles) {
      ASSERT_GE(triangle.photo, 0) << file.format;
      const engine::CameraRecord& camera = house.photos[triangle.photo]->camera;
      ASSERT_TRUE(camera.calibrated);
      const auto& [a, b, c] = triangle.corners;
      const engine::Vec3 centre = (a + b + c) / 3;
      for (const engine::Vec3& normal : triangle.normals) {
        EXPECT_NEAR(normal.SquaredLength(), 1, 1e-5) << file.format;
        for (const engine::Vec3& side : {b - a, c - b, a - c}) {
          EXPECT_LT(std::abs(engine::Dot(normal, side)) / std::sqrt(side.SquaredLength()), 1e-6)
              << file.format << ", photo " << triangle.photo;
        }
        EXPECT_GT(engine::Dot(normal, camera.translation - centre), 0) << file.format;
        EXPECT_GT(engine::Dot(normal, engine::Cross(b - a, c - a)), 0) << file.format;
      }
    }
  }
}

}  // namespace
}  // namespace modrin::exporters
