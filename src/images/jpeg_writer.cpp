#include "images/jpeg_writer.h"

#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "images/file_io.h"

namespace modrin::images {

namespace {

// An APPn segment holds at most 65533 bytes after its length field.
constexpr std::size_t kMaxSegmentBytes = 65533;

struct ExifDataDeleter {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};

// Adds an entry with room for `components` values of `format`; null when out of memory.
ExifEntry* AddEntry(ExifData* data, ExifIfd ifd, ExifTag tag, ExifFormat format,
                    unsigned long components) {
  ExifMem* memory = exif_mem_new_default();
  if (memory == nullptr) return nullptr;
  ExifEntry* entry = exif_entry_new_mem(memory);
  const unsigned long size = exif_format_get_size(format) * components;
  void* storage = entry != nullptr ? exif_mem_alloc(memory, size) : nullptr;
  if (storage == nullptr) {
    if (entry != nullptr) exif_entry_unref(entry);
    exif_mem_unref(memory);
    return nullptr;
  }
  entry->data = static_cast<unsigned char*>(storage);
  entry->size = static_cast<unsigned int>(size);
  entry->tag = tag;
  entry->format = format;
  entry->components = components;
  exif_content_add_entry(data->ifd[ifd], entry);
  exif_entry_unref(entry);  // the content holds it now
  exif_mem_unref(memory);
  return entry;
}

bool AddText(ExifData* data, ExifIfd ifd, ExifTag tag, const std::string& text) {
  ExifEntry* entry = AddEntry(data, ifd, tag, EXIF_FORMAT_ASCII, text.size() + 1);
  if (entry == nullptr) return false;
  std::memcpy(entry->data, text.c_str(), text.size() + 1);
  return true;
}

// The closest fraction whose numerator and denominator fit 32 bits: the last continued-fraction
// convergent within those bounds. Negative and non-finite values are written as 0.
ExifRational ToRational(double value) {
  constexpr double kMax = 4294967295.0;
  if (!std::isfinite(value) || value <= 0) return {0, 1};
  if (value >= kMax) return {4294967295u, 1};
  double previousP = 0, previousQ = 1, p = 1, q = 0;
  double rest = value;
  for (int step = 0; step < 64; ++step) {
    const double term = std::floor(rest);
    const double nextP = term * p + previousP;
    const double nextQ = term * q + previousQ;
    if (nextP > kMax || nextQ > kMax) break;
    previousP = p;
    previousQ = q;
    p = nextP;
    q = nextQ;
    const double fraction = rest - term;
    if (fraction < 1e-15 || p / q == value) break;
    rest = 1 / fraction;
  }
  return {static_cast<ExifLong>(p), static_cast<ExifLong>(q)};
}

bool AddRational(ExifData* data, ExifIfd ifd, ExifTag tag, double value) {
  ExifEntry* entry = AddEntry(data, ifd, tag, EXIF_FORMAT_RATIONAL, 1);
  if (entry == nullptr) return false;
  exif_set_rational(entry->data, exif_data_get_byte_order(data), ToRational(value));
  return true;
}

// The APP1 payload, starting with the "Exif\0\0" header; empty on failure.
std::vector<std::uint8_t> BuildExifBlock(const ExifCamera& camera, const std::string& make) {
  std::unique_ptr<ExifData, ExifDataDeleter> data(exif_data_new());
  if (!data) return {};
  exif_data_set_byte_order(data.get(), EXIF_BYTE_ORDER_INTEL);
  bool ok = AddText(data.get(), EXIF_IFD_0, EXIF_TAG_MAKE, make) &&
            AddText(data.get(), EXIF_IFD_0, EXIF_TAG_MODEL, camera.model) &&
            AddRational(data.get(), EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH, camera.focalLengthMm) &&
            AddRational(data.get(), EXIF_IFD_EXIF, EXIF_TAG_FOCAL_PLANE_X_RESOLUTION,
                        camera.focalPlaneXResolution) &&
            AddRational(data.get(), EXIF_IFD_EXIF, EXIF_TAG_FOCAL_PLANE_Y_RESOLUTION,
                        camera.focalPlaneYResolution);
  // A unit of 0 stands for a missing tag.
  if (ok && camera.focalPlaneResolutionUnit != 0) {
    ExifEntry* unit = AddEntry(data.get(), EXIF_IFD_EXIF, EXIF_TAG_FOCAL_PLANE_RESOLUTION_UNIT,
                               EXIF_FORMAT_SHORT, 1);
    ok = unit != nullptr;
    if (ok) {
      exif_set_short(unit->data, EXIF_BYTE_ORDER_INTEL,
                     static_cast<ExifShort>(camera.focalPlaneResolutionUnit));
    }
  }
  if (!ok) return {};
  unsigned char* bytes = nullptr;
  unsigned int size = 0;
  exif_data_save_data(data.get(), &bytes, &size);
  std::vector<std::uint8_t> block(bytes, bytes + (bytes != nullptr ? size : 0));
  std::free(bytes);  // allocated by libexif's default allocator, malloc
  return block;
}

struct WriterErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<WriterErrorManager*>(cinfo->err)->jump, 1);
}

void OnOutputMessage(j_common_ptr) {}

}  // namespace

std::vector<std::uint8_t> EncodeJpeg(const DecodedImage& image, int quality,
                                     const std::optional<ExifCamera>& exif,
                                     const std::string& make) {
  if (!image.IsValid() ||
      image.pixels.size() < image.stride() * static_cast<std::size_t>(image.height)) {
    return {};
  }
  // Objects with destructors first, before setjmp.
  std::vector<std::uint8_t> exifBlock;
  std::vector<std::uint8_t> encoded;
  if (exif) {
    exifBlock = BuildExifBlock(*exif, make);
    if (exifBlock.empty() || exifBlock.size() > kMaxSegmentBytes) return {};
  }

  jpeg_compress_struct cinfo{};
  WriterErrorManager manager{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  cinfo.err = jpeg_std_error(&manager.pub);
  manager.pub.error_exit = OnError;
  manager.pub.output_message = OnOutputMessage;
  if (setjmp(manager.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return {};
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(image.width);
  cinfo.image_height = static_cast<JDIMENSION>(image.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
  // EXIF files carry the EXIF segment right after the start marker, without a JFIF one.
  if (exif) cinfo.write_JFIF_header = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  if (exif) {
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exifBlock.data(),
                      static_cast<unsigned int>(exifBlock.size()));
  }
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg takes non-const rows but only reads them.
    JSAMPROW row = const_cast<JSAMPROW>(image.pixels.data() + image.stride() * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  try {
    encoded.assign(buffer, buffer + size);
  } catch (const std::bad_alloc&) {
    encoded.clear();
  }
  std::free(buffer);
  return encoded;
}

bool WriteJpegFile(const std::string& path, const DecodedImage& image, int quality,
                   const std::optional<ExifCamera>& exif, const std::string& make) {
  const std::vector<std::uint8_t> bytes = EncodeJpeg(image, quality, exif, make);
  if (bytes.empty()) return false;
  std::string reason;
  return WriteFileAtomically(path, std::string(bytes.begin(), bytes.end()), reason);
}

bool StripJpegMetadata(std::span<const std::uint8_t> jpeg, std::string& out) {
  constexpr std::uint8_t kMarker = 0xFF, kSoi = 0xD8, kSos = 0xDA, kApp1 = 0xE1;
  if (jpeg.size() < 4 || jpeg[0] != kMarker || jpeg[1] != kSoi) return false;
  std::string kept(reinterpret_cast<const char*>(jpeg.data()), 2);
  std::size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    if (jpeg[at] != kMarker) return false;
    const std::uint8_t marker = jpeg[at + 1];
    if (marker == kMarker) {  // fill byte before a marker
      ++at;
      continue;
    }
    const std::size_t length = (std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
    if (length < 2 || at + 2 + length > jpeg.size()) return false;
    if (marker == kSos) {
      kept.append(reinterpret_cast<const char*>(jpeg.data() + at), jpeg.size() - at);
      out = std::move(kept);
      return true;
    }
    if (marker != kApp1) kept.append(reinterpret_cast<const char*>(jpeg.data() + at), 2 + length);
    at += 2 + length;
  }
  return false;
}

}  // namespace modrin::images
