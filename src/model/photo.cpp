#include "model/photo.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "images/camera_database.h"
#include "images/exif_reader.h"
#include "images/image_codec.h"

namespace modrin::model {

std::string LowerExtension(const std::string& path) {
  auto dot = path.rfind('.');
  if (dot == std::string::npos) return {};
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

namespace {

images::DecodeResult Decode(const std::string& path) {
  const std::string extension = LowerExtension(path);
  if (extension.empty()) return {{}, false, "the file name has no extension"};
  return images::DecodeImageFile(path, images::FormatHintForExtension(extension));
}

void ReadExifInto(const std::string& path, const images::DecodedImage& image, LoadedImage& out) {
  if (image.format != images::ImageFormat::Jpeg) return;
  auto exif = images::ReadExifFile(path);
  if (!exif) return;
  const images::CameraInMetres camera = images::ToMetres(*exif, image.width, image.height);
  out.hasExif = true;
  // The model names a camera database entry, and the database file quotes names with '"': a
  // '"' in the name would end it there and make the rest of the file unreadable. It becomes
  // '\''; the rest of the EXIF text is kept as it is.
  out.model = camera.model;
  std::replace(out.model.begin(), out.model.end(), '"', '\'');
  out.focal = camera.focal;
  out.cellWidth = camera.cellWidth;
  out.cellHeight = camera.cellHeight;
}

}  // namespace

LoadedImage DecodePhotoFile(const std::string& path) {
  LoadedImage loaded;
  images::DecodeResult decoded = Decode(path);
  if (!decoded.ok) {
    loaded.error = decoded.error;
    return loaded;
  }
  loaded.image = std::make_unique<images::DecodedImage>(std::move(decoded.image));
  ReadExifInto(path, *loaded.image, loaded);
  return loaded;
}

bool ApplyLoadedImage(Photo& photo, LoadedImage loaded, images::CameraDatabase& database) {
  FreeImages(photo);
  photo.loadError = loaded.error;
  if (!loaded.image) return false;
  photo.loadError.clear();
  photo.levels.push_back(std::move(loaded.image));
  if (loaded.hasExif && !loaded.model.empty()) {
    photo.camera.focal = loaded.focal;
    database.Insert(loaded.model, loaded.cellWidth, loaded.cellHeight, false);
    photo.camera.cameraEntry = database.Find(loaded.model);
  }
  return true;
}

bool LoadImage(Photo& photo, images::CameraDatabase& database) {
  // A path without an extension is not loaded at all and leaves any earlier picture in place.
  if (LowerExtension(photo.path).empty()) return false;
  return ApplyLoadedImage(photo, DecodePhotoFile(photo.path), database);
}

bool DecodeImageFile(Photo& photo, const std::string& path) {
  if (LowerExtension(path).empty()) return false;
  FreeImages(photo);
  images::DecodeResult decoded = Decode(path);
  if (!decoded.ok) return false;
  photo.levels.push_back(std::make_unique<images::DecodedImage>(std::move(decoded.image)));
  return true;
}

bool ReadExifCamera(const Photo& photo, std::string& model, double& focal, double& cellWidth,
                    double& cellHeight) {
  if (!photo.HasImage()) return false;
  LoadedImage exif;
  ReadExifInto(photo.path, photo.image(), exif);
  if (!exif.hasExif) return false;
  model = exif.model;
  focal = exif.focal;
  cellWidth = exif.cellWidth;
  cellHeight = exif.cellHeight;
  return true;
}

void FreeImages(Photo& photo) { photo.levels.clear(); }

engine::Vec2 PixelToNormalized(const Photo& photo, int x, int y) {
  const auto& image = photo.image();
  return {static_cast<double>(x) / image.width - 0.5, static_cast<double>(y) / image.height - 0.5};
}

namespace {
int TruncateToInt(double value) {
  // Out-of-range values (a world point projected far outside the picture) saturate instead of
  // overflowing.
  if (!(value > std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  if (!(value < std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  return static_cast<int>(value);
}
}  // namespace

void NormalizedToPixel(const Photo& photo, double u, double v, int& x, int& y) {
  const auto& image = photo.image();
  x = TruncateToInt(image.width * (u + 0.5));
  y = TruncateToInt(image.height * (v + 0.5));
}

}  // namespace modrin::model
