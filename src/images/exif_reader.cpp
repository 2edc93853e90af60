#include "images/exif_reader.h"

#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "images/image_codec.h"

namespace modrin::images {

namespace {

constexpr std::size_t kMaxModelLength = 39;

struct ExifDataDeleter {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};

// A numeric tag's first value, whatever integer or rational type the camera wrote it in.
// Missing or malformed tags and zero denominators read as 0.
double NumberOf(ExifData* data, ExifTag tag) {
  ExifEntry* entry = exif_data_get_entry(data, tag);
  if (entry == nullptr || entry->data == nullptr || entry->components < 1) return 0;
  const unsigned size = exif_format_get_size(entry->format);
  if (size == 0 || entry->size < size) return 0;
  const ExifByteOrder order = exif_data_get_byte_order(data);
  switch (entry->format) {
    case EXIF_FORMAT_RATIONAL: {
      const ExifRational value = exif_get_rational(entry->data, order);
      return value.denominator == 0 ? 0 : double(value.numerator) / value.denominator;
    }
    case EXIF_FORMAT_SRATIONAL: {
      const ExifSRational value = exif_get_srational(entry->data, order);
      return value.denominator == 0 ? 0 : double(value.numerator) / value.denominator;
    }
    case EXIF_FORMAT_SHORT:
      return exif_get_short(entry->data, order);
    case EXIF_FORMAT_SSHORT:
      return exif_get_sshort(entry->data, order);
    case EXIF_FORMAT_LONG:
      return exif_get_long(entry->data, order);
    case EXIF_FORMAT_SLONG:
      return exif_get_slong(entry->data, order);
    default:
      return 0;
  }
}

// The model text as a C string would hold it: up to the first NUL, at most 39 characters.
// Blanks some cameras pad it with are kept.
std::string ModelOf(ExifData* data) {
  ExifEntry* entry = exif_data_get_entry(data, EXIF_TAG_MODEL);
  if (entry == nullptr || entry->data == nullptr) return {};
  const char* text = reinterpret_cast<const char*>(entry->data);
  const void* nul = std::memchr(text, '\0', entry->size);
  std::size_t length = nul ? static_cast<const char*>(nul) - text : entry->size;
  return std::string(text, std::min(length, kMaxModelLength));
}

bool HasEntries(const ExifData* data) {
  for (const ExifContent* content : data->ifd) {
    if (content != nullptr && content->count > 0) return true;
  }
  return false;
}

double FiniteOrZero(double value) { return std::isfinite(value) ? value : 0; }

// The payload of a JPEG file's EXIF segment (APP1 starting with "Exif\0\0"), found by walking
// the marker segments from the start of the image: each is 0xFF, a marker byte and a 16-bit
// big-endian length that counts itself. Segments before it (JFIF, comments, XMP in another
// APP1, tables) are skipped; the walk ends without one at the first scan, at the end of the
// image or at a length that does not fit in the file. Every step moves forward, so the walk
// takes at most as many steps as the file has bytes. Empty when there is none.
std::span<const std::uint8_t> FindExifSegment(std::span<const std::uint8_t> jpeg) {
  constexpr std::uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return {};
  std::size_t at = 2;
  while (at + 1 < jpeg.size()) {
    if (jpeg[at] != 0xFF) return {};
    const std::uint8_t marker = jpeg[at + 1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++at;
      continue;
    }
    // Markers without a segment: TEM and the restart markers.
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA || at + 3 >= jpeg.size()) return {};
    const std::size_t length = std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    if (length < 2 || length > jpeg.size() - (at + 2)) return {};
    const std::span<const std::uint8_t> payload = jpeg.subspan(at + 4, length - 2);
    if (marker == 0xE1 && payload.size() >= sizeof kExifHeader &&
        std::equal(std::begin(kExifHeader), std::end(kExifHeader), payload.begin())) {
      return payload;
    }
    at += 2 + length;
  }
  return {};
}

}  // namespace

std::optional<ExifCamera> ParseExif(std::span<const std::uint8_t> jpegBytes) {
  if (jpegBytes.empty() || jpegBytes.size() > kMaxFileBytes) return std::nullopt;
  // libexif finds the segment itself only when nothing but JFIF or other APPn segments come
  // before it: it gives up at a comment. It is handed the segment alone.
  const std::span<const std::uint8_t> segment = FindExifSegment(jpegBytes);
  if (segment.empty()) return std::nullopt;
  std::unique_ptr<ExifData, ExifDataDeleter> data(exif_data_new());
  if (!data) return std::nullopt;
  // As stored: libexif would otherwise add the tags the standard requires, with defaults,
  // and a missing resolution unit would read as inches.
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(data.get(), segment.data(), static_cast<unsigned>(segment.size()));
  if (!HasEntries(data.get())) return std::nullopt;

  ExifCamera camera;
  camera.model = ModelOf(data.get());
  camera.focalLengthMm = NumberOf(data.get(), EXIF_TAG_FOCAL_LENGTH);
  camera.focalPlaneXResolution = NumberOf(data.get(), EXIF_TAG_FOCAL_PLANE_X_RESOLUTION);
  camera.focalPlaneYResolution = NumberOf(data.get(), EXIF_TAG_FOCAL_PLANE_Y_RESOLUTION);
  const double unit = NumberOf(data.get(), EXIF_TAG_FOCAL_PLANE_RESOLUTION_UNIT);
  camera.focalPlaneResolutionUnit = std::abs(unit) < 1e9 ? static_cast<int>(unit) : 0;
  return camera;
}

std::optional<ExifCamera> ReadExifFile(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return std::nullopt;
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size > kMaxFileBytes) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
  if (bytes.empty() || std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return std::nullopt;
  }
  return ParseExif(bytes);
}

CameraInMetres ToMetres(const ExifCamera& exif, int widthPixels, int heightPixels) {
  CameraInMetres camera;
  camera.model = exif.model;
  camera.focal = FiniteOrZero(exif.focalLengthMm * 0.001);

  // The resolution unit as a length in inches; 1 ("none") is taken as inches too.
  double unitInches = 0;
  switch (exif.focalPlaneResolutionUnit) {
    case 1:
    case 2:
      unitInches = 1.0;
      break;
    case 3:
      unitInches = 0.3937007874;
      break;
    case 4:
      unitInches = 0.03937007874;
      break;
    case 5:
      unitInches = 0.00003937007874;
      break;
    default:
      break;
  }
  if (unitInches == 0) return camera;

  const double unitMetres = unitInches * 0.0254;
  const double x = exif.focalPlaneXResolution;
  const double y = exif.focalPlaneYResolution;
  if (x >= 1.0) {
    // Pixels per unit: the sensor spans pixels / resolution units. A zero Y resolution (a
    // missing tag) gives a zero height rather than infinity.
    camera.cellWidth = widthPixels * unitMetres / x;
    camera.cellHeight = y != 0 ? heightPixels * unitMetres / y : 0;
  } else {
    // Resolutions below one keep the conversion existing camera tables were made with.
    camera.cellWidth = widthPixels * (x / unitMetres) * 0.001;
    camera.cellHeight = heightPixels * (y / unitMetres) * 0.001;
  }
  camera.cellWidth = FiniteOrZero(camera.cellWidth);
  camera.cellHeight = FiniteOrZero(camera.cellHeight);
  return camera;
}

}  // namespace modrin::images
