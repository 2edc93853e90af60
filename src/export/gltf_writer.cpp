#include "export/gltf_writer.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>
#include <sstream>
#include <vector>

#include "engine/progress.h"
#include "export/model_text.h"
#include "images/file_io.h"
#include "images/jpeg_writer.h"
#include "images/resize.h"
#include "model/project.h"
#include "model/project_document.h"

namespace modrin::exporters {

namespace {

constexpr char kUnlit[] = "KHR_materials_unlit";

using Vec3 = std::array<double, 3>;

// Modrin's world has z up; glTF's has y up, with the same handedness.
std::array<float, 3> YUp(const Vec3& p) {
  return {static_cast<float>(p[0]), static_cast<float>(p[2]), static_cast<float>(-p[1])};
}

Vec3 Minus(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 Corner(const model::MeshTriangle& triangle, int k) {
  const model::MeshVertex* v = triangle.Corner(k);
  return {v->x, v->y, v->z};
}

// A unit vector; the normal the builder gave, else the corners' own, else straight up.
Vec3 UnitNormal(const model::MeshTriangle& triangle) {
  Vec3 n{triangle.normal[0], triangle.normal[1], triangle.normal[2]};
  double length = std::sqrt(Dot(n, n));
  if (!(length > 0) || !std::isfinite(length)) {
    n = Cross(Minus(Corner(triangle, 1), Corner(triangle, 0)),
              Minus(Corner(triangle, 2), Corner(triangle, 0)));
    length = std::sqrt(Dot(n, n));
    if (!(length > 0) || !std::isfinite(length)) return {0, 0, 1};
  }
  return {n[0] / length, n[1] / length, n[2] / length};
}

bool IsPng(const std::string& bytes) {
  return bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
}

std::span<const std::uint8_t> AsBytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The largest power of two not above `side`.
int PowerOfTwoWithin(int side) {
  int power = 1;
  while (power <= side / 2) power *= 2;
  return power;
}

// "name", or "name 2", "name 3", ... when the name is taken (also by a name made so).
std::string UniqueName(const std::string& wanted, std::set<std::string>& taken) {
  const std::string base = wanted.empty() ? std::string("model") : wanted;
  std::string name = base;
  for (int n = 2; taken.contains(name); ++n) name = base + " " + std::to_string(n);
  taken.insert(name);
  return name;
}

// A path as a relative URI: folders joined by '/', and every byte outside the URI's unreserved
// characters written as %XX, so that spaces and non-ASCII names survive every reader.
std::string RelativeUri(const std::string& path, const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path target = fs::weakly_canonical(fs::absolute(path, error), error);
  const fs::path base = fs::weakly_canonical(fs::absolute(folder.empty() ? "." : folder), error);
  fs::path relative = target.lexically_relative(base);
  if (relative.empty()) relative = target;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri;
  for (const unsigned char c : relative.generic_string()) {
    if (std::isalnum(c) || std::strchr("-._~/", c) != nullptr) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

// Gathers the model's arrays into one buffer and its objects into a tinygltf model.
class GltfBuilder {
 public:
  GltfBuilder(const model::Project& project, bool binary, const GltfTextureOptions& textures,
              const std::string& folder, const std::string& bufferName)
      : project_(project),
        binary_(binary),
        textures_(textures),
        folder_(folder),
        bufferName_(bufferName) {}

  GltfResult Build(GltfFiles& files, engine::Progress* progress);

 private:
  int AddBufferView(const void* data, std::size_t bytes, int target);
  template <typename T>
  int AddAccessor(const std::vector<T>& values, int componentType, int type, int target);
  bool AddMesh(const model::Object& object, int& meshIndex);
  // The material of photo `photoIndex`, made on first use; -1 with error_ set when its
  // texture cannot be made.
  int MaterialOf(std::size_t photoIndex);
  bool AddImage(const model::Photo& photo, tinygltf::Image& image);
  int AddSampler();
  std::string SerializeBinary();
  bool SerializeWithBufferBeside(GltfFiles& files);

  const model::Project& project_;
  const bool binary_;
  const GltfTextureOptions textures_;
  const std::string folder_;
  const std::string bufferName_;
  tinygltf::Model model_;
  std::vector<unsigned char> buffer_;
  std::vector<int> materialOfPhoto_;
  std::set<std::string> nodeNames_, materialNames_;
  int sampler_ = -1;
  engine::Progress* progress_ = nullptr;
  std::string error_;
};

int GltfBuilder::AddBufferView(const void* data, std::size_t bytes, int target) {
  buffer_.resize((buffer_.size() + 3) / 4 * 4, 0);  // every view starts 4-byte aligned
  tinygltf::BufferView view;
  view.buffer = 0;
  view.byteOffset = buffer_.size();
  view.byteLength = bytes;
  view.target = target;
  const auto* first = static_cast<const unsigned char*>(data);
  buffer_.insert(buffer_.end(), first, first + bytes);
  model_.bufferViews.push_back(view);
  return static_cast<int>(model_.bufferViews.size() - 1);
}

template <typename T>
int GltfBuilder::AddAccessor(const std::vector<T>& values, int componentType, int type,
                             int target) {
  tinygltf::Accessor accessor;
  accessor.bufferView = AddBufferView(values.data(), values.size() * sizeof(T), target);
  accessor.componentType = componentType;
  accessor.type = type;
  const int components = tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(type));
  accessor.count = values.size() / static_cast<std::size_t>(components);
  model_.accessors.push_back(accessor);
  return static_cast<int>(model_.accessors.size() - 1);
}

// One primitive per photo mesh with triangles. Each triangle gets three vertices of its own,
// its corners ordered counter-clockwise seen from the side its normal points to (glTF's front
// face).
bool GltfBuilder::AddMesh(const model::Object& object, int& meshIndex) {
  tinygltf::Mesh mesh;
  for (std::size_t j = 0; j < object.photoMeshes.size() && j < project_.photos.size(); ++j) {
    const model::ObjectPhotoMesh& photoMesh = *object.photoMeshes[j];
    if (photoMesh.triangleCount() == 0) continue;
    std::vector<float> positions, normals, texcoords;
    std::vector<std::uint32_t> indices;
    std::array<float, 3> low{}, high{};
    low.fill(std::numeric_limits<float>::max());
    high.fill(std::numeric_limits<float>::lowest());
    for (const model::MeshTriangle& triangle : photoMesh.triangles()) {
      const Vec3 n = UnitNormal(triangle);
      std::array<int, 3> order{0, 1, 2};
      const Vec3 area = Cross(Minus(Corner(triangle, 1), Corner(triangle, 0)),
                              Minus(Corner(triangle, 2), Corner(triangle, 0)));
      if (Dot(area, n) < 0) std::swap(order[1], order[2]);
      const std::array<float, 3> normal = YUp(n);
      for (const int k : order) {
        const model::MeshVertex* v = triangle.Corner(k);
        const std::array<float, 3> p = YUp({v->x, v->y, v->z});
        for (int a = 0; a < 3; ++a) {
          low[a] = std::min(low[a], p[a]);
          high[a] = std::max(high[a], p[a]);
        }
        positions.insert(positions.end(), p.begin(), p.end());
        normals.insert(normals.end(), normal.begin(), normal.end());
        texcoords.push_back(static_cast<float>(v->u));
        texcoords.push_back(static_cast<float>(1.0 - v->v));  // rows from the top
        indices.push_back(static_cast<std::uint32_t>(indices.size()));
      }
    }
    const int material = MaterialOf(j);
    if (material < 0) return false;
    tinygltf::Primitive primitive;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    primitive.material = material;
    const int position = AddAccessor(positions, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3,
                                     TINYGLTF_TARGET_ARRAY_BUFFER);
    model_.accessors[static_cast<std::size_t>(position)].minValues = {low[0], low[1], low[2]};
    model_.accessors[static_cast<std::size_t>(position)].maxValues = {high[0], high[1], high[2]};
    primitive.attributes["POSITION"] = position;
    primitive.attributes["NORMAL"] = AddAccessor(normals, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                                 TINYGLTF_TYPE_VEC3, TINYGLTF_TARGET_ARRAY_BUFFER);
    primitive.attributes["TEXCOORD_0"] = AddAccessor(
        texcoords, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC2, TINYGLTF_TARGET_ARRAY_BUFFER);
    primitive.indices = AddAccessor(indices, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                                    TINYGLTF_TYPE_SCALAR, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    mesh.primitives.push_back(std::move(primitive));
  }
  meshIndex = -1;
  if (mesh.primitives.empty()) return true;
  model_.meshes.push_back(std::move(mesh));
  meshIndex = static_cast<int>(model_.meshes.size() - 1);
  return true;
}

int GltfBuilder::AddSampler() {
  if (sampler_ >= 0) return sampler_;
  tinygltf::Sampler sampler;
  sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
  // Mipmaps only for power-of-two textures: a viewer would otherwise resize the photo first.
  sampler.minFilter = textures_.powerOfTwo && textures_.maxSide > 0
                          ? TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR
                          : TINYGLTF_TEXTURE_FILTER_LINEAR;
  sampler.wrapS = TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
  sampler.wrapT = TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
  model_.samplers.push_back(sampler);
  sampler_ = static_cast<int>(model_.samplers.size() - 1);
  return sampler_;
}

// The photo's texture: its own file by URI (.gltf of a JPEG or PNG at full size), its JPEG
// bytes without metadata, or its picture encoded afresh as JPEG (shrunk when asked).
bool GltfBuilder::AddImage(const model::Photo& photo, tinygltf::Image& image) {
  const std::string name = model::FileNamePart(photo.path);
  std::string encoded;
  if (textures_.maxSide <= 0) {
    std::string file, reason;
    if (!images::ReadWholeFile(photo.path, file, reason)) {
      error_ = "cannot read the photo " + photo.path + " for its texture: " + reason;
      return false;
    }
    const bool png = IsPng(file);
    if (!binary_ && (png || images::StripJpegMetadata(AsBytes(file), encoded))) {
      image.uri = RelativeUri(photo.path, folder_);
      return true;
    }
    if (!images::StripJpegMetadata(AsBytes(file), encoded)) encoded.clear();
  }
  if (encoded.empty()) {
    if (!photo.HasImage()) {
      error_ = "the photo " + photo.path + " has no picture for its texture";
      return false;
    }
    const images::DecodedImage& picture = photo.image();
    std::vector<std::uint8_t> jpeg;
    if (textures_.maxSide > 0) {
      int width = std::min(picture.width, textures_.maxSide);
      int height = std::min(picture.height, textures_.maxSide);
      if (textures_.powerOfTwo) {
        width = PowerOfTwoWithin(width);
        height = PowerOfTwoWithin(height);
      } else {
        // Keep the photo's shape: the longer side becomes maxSide.
        const double scale = std::min(
            1.0, static_cast<double>(textures_.maxSide) / std::max(picture.width, picture.height));
        width = std::max(1, static_cast<int>(std::lround(picture.width * scale)));
        height = std::max(1, static_cast<int>(std::lround(picture.height * scale)));
      }
      jpeg = images::EncodeJpeg(images::ResizeByAreaAveraging(picture, width, height),
                                textures_.jpegQuality, std::nullopt);
    } else {
      jpeg = images::EncodeJpeg(picture, textures_.jpegQuality, std::nullopt);
    }
    if (jpeg.empty()) {
      error_ = "cannot encode the texture of the photo " + photo.path;
      return false;
    }
    encoded.assign(jpeg.begin(), jpeg.end());
  }
  image.mimeType = "image/jpeg";
  image.bufferView = AddBufferView(encoded.data(), encoded.size(), 0);
  image.name = name;
  return true;
}

int GltfBuilder::MaterialOf(std::size_t photoIndex) {
  if (materialOfPhoto_[photoIndex] >= 0) return materialOfPhoto_[photoIndex];
  const model::Photo& photo = *project_.photos[photoIndex];
  tinygltf::Image image;
  if (!AddImage(photo, image)) return -1;
  const std::string name = UniqueName(BaseName(photo.path), materialNames_);
  image.name = name;
  model_.images.push_back(std::move(image));
  tinygltf::Texture texture;
  texture.name = name;
  texture.source = static_cast<int>(model_.images.size() - 1);
  texture.sampler = AddSampler();
  model_.textures.push_back(texture);

  tinygltf::Material material;
  material.name = name;
  material.pbrMetallicRoughness.baseColorTexture.index =
      static_cast<int>(model_.textures.size() - 1);
  material.pbrMetallicRoughness.metallicFactor = 0;
  material.pbrMetallicRoughness.roughnessFactor = 1;
  // An open model (a façade, a single wall) is seen from behind too.
  material.doubleSided = true;
  material.extensions[kUnlit] = tinygltf::Value(tinygltf::Value::Object());
  model_.materials.push_back(std::move(material));
  materialOfPhoto_[photoIndex] = static_cast<int>(model_.materials.size() - 1);
  if (progress_ != nullptr) progress_->StepIt();
  return materialOfPhoto_[photoIndex];
}

std::string GltfBuilder::SerializeBinary() {
  tinygltf::Buffer buffer;
  buffer.data = std::move(buffer_);
  model_.buffers.push_back(std::move(buffer));
  std::ostringstream stream;
  tinygltf::TinyGLTF writer;
  writer.WriteGltfSceneToStream(&model_, stream, false, true);
  return stream.str();
}

// tinygltf writes a buffer to a file of its own only when it writes the JSON to a file too, so
// both go to a private scratch folder and are read back from there.
bool GltfBuilder::SerializeWithBufferBeside(GltfFiles& files) {
  namespace fs = std::filesystem;
  std::error_code error;
  std::string scratch = (fs::temp_directory_path(error) / "modrin-gltf-XXXXXX").string();
  if (error || mkdtemp(scratch.data()) == nullptr) {
    error_ = "cannot make a scratch folder for the glTF file";
    return false;
  }
  files.bufferUri = RelativeUri(model::FileNamePart(bufferName_), ".");
  const bool hasBuffer = !buffer_.empty();
  if (hasBuffer) {
    tinygltf::Buffer buffer;
    buffer.uri = files.bufferUri;
    buffer.data = std::move(buffer_);
    model_.buffers.push_back(std::move(buffer));
  }
  tinygltf::TinyGLTF writer;
  writer.SetImageWriter(nullptr, nullptr);  // the photos stay where they are, by URI
  const std::string jsonPath = scratch + "/model.gltf";
  std::string reason;
  bool ok =
      writer.WriteGltfSceneToFile(&model_, jsonPath, false, false, true, false) &&
      images::ReadWholeFile(jsonPath, files.main, reason) &&
      (!hasBuffer || images::ReadWholeFile(scratch + "/" + files.bufferUri, files.buffer, reason));
  fs::remove_all(scratch, error);
  if (!ok)
    error_ =
        "cannot make the glTF file in a scratch folder" + (reason.empty() ? "" : ": " + reason);
  if (!hasBuffer) files.bufferUri.clear();
  return ok;
}

GltfResult GltfBuilder::Build(GltfFiles& files, engine::Progress* progress) {
  progress_ = progress;
  materialOfPhoto_.assign(project_.photos.size(), -1);
  model_.asset.version = "2.0";
  model_.asset.generator = "Modrin";
  model_.extensionsUsed.push_back(kUnlit);
  tinygltf::Scene scene;
  scene.name = "Scene";
  for (const auto& object : project_.objects) {
    if (!object->current) continue;
    tinygltf::Node node;
    node.name = UniqueName(object->name, nodeNames_);
    if (!AddMesh(*object, node.mesh)) return {false, error_};
    if (node.mesh >= 0) model_.meshes[static_cast<std::size_t>(node.mesh)].name = node.name;
    model_.nodes.push_back(std::move(node));
    scene.nodes.push_back(static_cast<int>(model_.nodes.size() - 1));
  }
  if (scene.nodes.empty()) {
    return {false, "there is no current object to export: tick an object in the object list"};
  }
  if (model_.materials.empty()) model_.extensionsUsed.clear();
  model_.scenes.push_back(std::move(scene));
  model_.defaultScene = 0;

  files = {};
  if (binary_) {
    files.main = SerializeBinary();
    return {true, {}};
  }
  if (!SerializeWithBufferBeside(files)) return {false, error_};
  return {true, {}};
}

}  // namespace

GltfResult BuildGltf(const model::Project& project, bool binary, const GltfTextureOptions& textures,
                     const std::string& folder, const std::string& bufferName, GltfFiles& files,
                     engine::Progress* progress) {
  GltfBuilder builder(project, binary, textures, folder, bufferName);
  return builder.Build(files, progress);
}

GltfResult WriteGltfModel(const model::Project& project, const std::string& fileName) {
  const bool binary = model::LowerExtension(fileName) == "glb";
  const std::size_t slash = fileName.find_last_of("/\\");
  const std::string prefix = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
  const std::string bufferName = BaseName(fileName) + ".bin";
  GltfFiles files;
  GltfResult result = BuildGltf(project, binary, GltfTextureOptions{},
                                prefix.empty() ? "." : prefix, bufferName, files);
  if (!result.ok) return result;
  // Both or neither: a .gltf naming a buffer that is not there, or an older one, would not load.
  std::vector<images::FileContents> written;
  if (!files.buffer.empty()) written.push_back({prefix + bufferName, std::move(files.buffer)});
  written.push_back({fileName, std::move(files.main)});
  std::string failed, reason;
  if (!images::WriteFilesAtomically(written, failed, reason)) {
    return {false, "cannot write " + failed + ": " + reason};
  }
  return {true, {}};
}

}  // namespace modrin::exporters
