#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/geometry/camera_record.h"
#include "engine/geometry/vec.h"
#include "images/decoded_image.h"

namespace modrin::images {
class CameraDatabase;
}

namespace modrin::model {

// One photo of the project: its image file, the decoded picture and its camera.
class Photo {
 public:
  void SetPath(const std::string& newPath) { path = newPath; }
  bool HasImage() const { return !levels.empty(); }
  // The last decode failed because memory ran out, not because of the file: the picture is
  // there, and a command that needs it must not go on as if the photo had none.
  bool LoadFailedForMemory() const { return loadError.starts_with(kNotEnoughMemory); }
  static constexpr char kNotEnoughMemory[] = "not enough memory";
  const images::DecodedImage& image() const { return *levels.front(); }

  // Empty until the file is decoded; then exactly one full-resolution picture.
  std::vector<std::unique_ptr<images::DecodedImage>> levels;
  std::string path;
  // Why the last decode of the file gave no picture; empty after a decode that gave one.
  std::string loadError;
  engine::CameraRecord camera;
};

// What decoding and EXIF reading found for one photo file, before it is applied to the photo.
// Decoding runs off the user-interface thread; applying runs on it.
struct LoadedImage {
  std::unique_ptr<images::DecodedImage> image;  // null when the file could not be decoded
  std::string error;
  bool hasExif = false;
  std::string model;  // EXIF camera model, each '"' made '\''; metres below
  double focal = 0;
  double cellWidth = 0;
  double cellHeight = 0;
};

// Decodes the file at `path` (format hint from its extension; no extension: not loaded) and
// reads its EXIF camera when it is a JPEG. Touches no shared state; safe on any thread.
LoadedImage DecodePhotoFile(const std::string& path);

// Puts a decoded picture into the photo; for a JPEG with an EXIF camera model, sets the focal
// length, adds the model to the database (keeping an existing entry) and links the camera to
// it. Returns whether a picture was decoded.
bool ApplyLoadedImage(Photo& photo, LoadedImage loaded, images::CameraDatabase& database);

// Decodes the photo's file and applies it: DecodePhotoFile then ApplyLoadedImage.
bool LoadImage(Photo& photo, images::CameraDatabase& database);

// Decodes `path` into the photo's levels alone. False, levels untouched, without an extension.
bool DecodeImageFile(Photo& photo, const std::string& path);

// The EXIF camera of the photo's file, in metres, the model as LoadImage enters it in the
// database; false unless the picture was decoded as JPEG and the file carries EXIF data.
bool ReadExifCamera(const Photo& photo, std::string& model, double& focal, double& cellWidth,
                    double& cellHeight);

void FreeImages(Photo& photo);

// u = x / W - 0.5, v = y / H - 0.5 of the full-resolution picture. Needs a loaded image.
engine::Vec2 PixelToNormalized(const Photo& photo, int x, int y);
// x = trunc(W (u + 0.5)), y = trunc(H (v + 0.5)). Needs a loaded image.
void NormalizedToPixel(const Photo& photo, double u, double v, int& x, int& y);

// The text after the last "." of `path`, lower-cased; empty when there is no ".".
std::string LowerExtension(const std::string& path);

}  // namespace modrin::model
