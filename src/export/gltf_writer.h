#pragma once

#include <string>

namespace modrin::engine {
class Progress;
}

namespace modrin::model {
class Project;
}

namespace modrin::exporters {

// How the photos become the textures of a glTF model.
struct GltfTextureOptions {
  // 0: every photo at its full size. Otherwise each side of a texture is at most this many
  // pixels: the photo is shrunk by area averaging and encoded as JPEG at `jpegQuality`.
  int maxSide = 0;
  int jpegQuality = 90;  // 1 to 100, for textures that are encoded afresh
  // Shrunk textures get power-of-two sides (each the largest power of two within the photo's
  // side and maxSide), so that viewers can make mipmaps of them without resizing them again.
  bool powerOfTwo = false;
};

// A glTF model in memory: the JSON (or the whole binary file) and, for the JSON form, the
// buffer that goes beside it.
struct GltfFiles {
  std::string main;       // the .gltf text or the .glb bytes
  std::string bufferUri;  // .gltf only: the buffer's file name, beside the .gltf file
  std::string buffer;     // .gltf only: the buffer's bytes
};

struct GltfResult {
  bool ok = false;
  std::string error;  // what went wrong, naming the photo or file, when !ok
};

// Builds the glTF 2.0 model of the last model update: one scene, one node per current object
// (named after it, names made unique), one mesh primitive per photo mesh that has triangles with
// POSITION, NORMAL, TEXCOORD_0 and indices, and per photo an unlit material
// (KHR_materials_unlit) textured by the photo. Vertices are split per triangle, because every
// triangle carries its own normal. The world is turned from z up to glTF's y up:
// (x, y, z) becomes (x, z, -y). Texture rows count from the top.
//
// `binary`: a .glb with every texture inside it (a JPEG photo as its own bytes less the EXIF
// block, any other photo, and every shrunk texture, encoded as JPEG). Otherwise a .gltf whose
// buffer goes beside it as `bufferName` and whose textures are the photo files, referred to by
// URIs relative to `folder` (the folder the .gltf goes into); shrunk textures and photos that
// are neither JPEG nor PNG files are encoded as JPEG into the buffer instead.
//
// A photo a texture is needed of that cannot be read is named in the error and nothing is
// returned. `progress` (may be null) steps once per texture.
GltfResult BuildGltf(const model::Project& project, bool binary, const GltfTextureOptions& textures,
                     const std::string& folder, const std::string& bufferName, GltfFiles& files,
                     engine::Progress* progress = nullptr);

// Writes the model as `fileName` (".gltf" with its ".bin" beside it, or ".glb") with full-size
// textures. Files are replaced only when completely written; on failure neither file is
// written.
GltfResult WriteGltfModel(const model::Project& project, const std::string& fileName);

}  // namespace modrin::exporters
