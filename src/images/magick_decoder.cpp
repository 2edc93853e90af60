// The formats without a decoder of our own go through GraphicsMagick: BMP, ICO/CUR, TGA, PCX,
// WBMP, PNM, Sun raster, JBIG and WMF. The coder is always named explicitly (never guessed by
// GraphicsMagick), and only those plain raster coders are ever named, so a file cannot make
// GraphicsMagick run a script format or read other files.

#include <magick/api.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "images/image_codec.h"
#include "images/image_decoders.h"

namespace modrin::images::detail {

namespace {

constexpr std::size_t kBandPixels = std::size_t{1} << 20;

void SilentHandler(const ExceptionType, const char*, const char*) {}

// GraphicsMagick is initialised once per process. Its resource limits are process-wide; they
// cap what any single picture may take, so a bogus header fails inside GraphicsMagick instead
// of reserving gigabytes. Pixel caches never go to disk.
void InitializeOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    InitializeMagick(nullptr);
    SetWarningHandler(SilentHandler);
    SetErrorHandler(SilentHandler);
    SetMagickResourceLimit(PixelsResource, kMaxPixels);
    SetMagickResourceLimit(WidthResource, kMaxPixels);
    SetMagickResourceLimit(HeightResource, kMaxPixels);
    // 16-bit RGBA is 8 bytes a pixel, plus room for the coder's own buffers.
    SetMagickResourceLimit(MemoryResource, kMaxPixels * 8 + (std::int64_t{256} << 20));
    SetMagickResourceLimit(DiskResource, 0);
    SetMagickResourceLimit(MapResource, 0);
  });
}

struct ImageInfoDeleter {
  void operator()(ImageInfo* info) const { DestroyImageInfo(info); }
};
struct ImageListDeleter {
  void operator()(Image* image) const { DestroyImageList(image); }
};

struct Exception {
  ExceptionInfo info;
  Exception() { GetExceptionInfo(&info); }
  ~Exception() { DestroyExceptionInfo(&info); }
  Exception(const Exception&) = delete;
  Exception& operator=(const Exception&) = delete;
  bool Failed() const { return info.severity >= ErrorException; }
  std::string Reason(std::string_view magick) const {
    std::string text = "cannot decode the " + std::string(magick) + " picture";
    if (info.reason != nullptr && info.reason[0] != '\0') text += std::string(": ") + info.reason;
    if (info.description != nullptr && info.description[0] != '\0') {
      text += std::string(" (") + info.description + ")";
    }
    return text;
  }
};

std::unique_ptr<ImageInfo, ImageInfoDeleter> MakeInfo(const char* magick) {
  std::unique_ptr<ImageInfo, ImageInfoDeleter> info(CloneImageInfo(nullptr));
  if (!info) return info;
  std::snprintf(info->magick, sizeof info->magick, "%s", magick);
  std::snprintf(info->filename, sizeof info->filename, "%s:", magick);
  info->affirm = MagickTrue;
  info->subimage = 0;
  info->subrange = 1;
  return info;
}

bool StartsWith(Bytes bytes, std::initializer_list<std::uint8_t> prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// TGA has no signature; a header whose fields all hold legal values is taken as one.
bool LooksLikeTga(Bytes b) {
  if (b.size() < 18) return false;
  const std::uint8_t mapType = b[1];
  const std::uint8_t imageType = b[2];
  const std::uint8_t depth = b[16];
  const bool typeOk = imageType == 1 || imageType == 2 || imageType == 3 || imageType == 9 ||
                      imageType == 10 || imageType == 11;
  const bool depthOk = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
  const bool sizeOk = (b[12] | b[13]) != 0 && (b[14] | b[15]) != 0;
  return mapType <= 1 && typeOk && depthOk && sizeOk;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// An icon (type 1) or cursor (type 2) directory: a reserved 0, the type, at least one image,
// and directory entries of 16 bytes that each point at a non-empty image inside the file,
// behind the directory. An icon entry has at most one colour plane and a usual bit count (a
// cursor's entry holds its hot spot there). The first four bytes alone do not tell: an
// uncompressed TGA without identifier or colour map starts with 0, 0, 2, 0 as a cursor does.
bool LooksLikeIconDirectory(Bytes b, std::uint8_t type) {
  if (!StartsWith(b, {0, 0, type, 0}) || b.size() < 6) return false;
  const std::size_t count = b[4] | std::size_t{b[5]} << 8;
  const std::size_t directoryEnd = 6 + 16 * count;
  if (count == 0 || b.size() < directoryEnd) return false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = b.data() + 6 + 16 * i;
    if (entry[3] != 0 && entry[3] != 255) return false;  // reserved; some writers put 255
    if (type == 1) {
      const unsigned planes = entry[4] | unsigned{entry[5]} << 8;
      const unsigned bits = entry[6] | unsigned{entry[7]} << 8;
      if (planes > 1) return false;
      if (bits != 0 && bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 &&
          bits != 24 && bits != 32) {
        return false;
      }
    }
    const std::uint32_t size = Le32(entry + 8);
    const std::uint32_t offset = Le32(entry + 12);
    if (size == 0 || offset < directoryEnd || offset >= b.size()) return false;
  }
  return true;
}

// A Windows metafile header (type 1 or 2, 9 words, version 1 or 3), after the 22-byte
// placeable header when there is one. libwmf reports malformed files on stderr, so only files
// that pass this check are handed to it.
bool LooksLikeWmf(Bytes b) {
  const std::size_t start = StartsWith(b, {0xD7, 0xCD, 0xC6, 0x9A}) ? 22 : 0;
  if (b.size() < start + 18) return false;
  const std::uint8_t* h = b.data() + start;
  return (h[0] == 1 || h[0] == 2) && h[1] == 0 && h[2] == 9 && h[3] == 0 && h[4] == 0 &&
         (h[5] == 1 || h[5] == 3);
}

}  // namespace

const char* MagickFormatFor(Bytes bytes, const std::string& lowerExtension) {
  // Signatures that hardly occur by chance come first.
  if (StartsWith(bytes, {'B', 'M'})) return "BMP";
  if (StartsWith(bytes, {0x59, 0xA6, 0x6A, 0x95})) return "SUN";
  if (StartsWith(bytes, {0xD7, 0xCD, 0xC6, 0x9A})) {  // placeable metafile
    return LooksLikeWmf(bytes) ? "WMF" : nullptr;
  }
  if (bytes.size() >= 3 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7' &&
      std::isspace(bytes[2])) {
    return "PNM";
  }

  // Then the extension: TGA, WBMP and JBIG have no signature, and a TGA header can look like
  // an icon's.
  static constexpr std::pair<std::string_view, const char*> kByExtension[] = {
      {"bmp", "BMP"}, {"dib", "BMP"},  {"ico", "ICO"},   {"cur", "CUR"},  {"tga", "TGA"},
      {"icb", "TGA"}, {"vda", "TGA"},  {"vst", "TGA"},   {"pcx", "PCX"},  {"wbmp", "WBMP"},
      {"wmf", "WMF"}, {"jbg", "JBIG"}, {"jbig", "JBIG"}, {"bie", "JBIG"}, {"pnm", "PNM"},
      {"pbm", "PNM"}, {"pgm", "PNM"},  {"ppm", "PNM"},   {"pam", "PNM"},  {"ras", "SUN"},
      {"sun", "SUN"},
  };
  for (const auto& [extension, magick] : kByExtension) {
    if (lowerExtension != extension) continue;
    if (std::string_view(magick) == "WMF" && !LooksLikeWmf(bytes)) return nullptr;
    return magick;
  }

  // Weak signatures last.
  if (LooksLikeIconDirectory(bytes, 1)) return "ICO";
  if (LooksLikeIconDirectory(bytes, 2)) return "CUR";
  if (LooksLikeWmf(bytes)) return "WMF";  // metafile without the placeable header
  // ZSoft PCX: manufacturer 10, a known version, run-length encoding 1, a 128-byte header.
  if (bytes.size() >= 128 && bytes[0] == 0x0A && bytes[1] <= 5 && bytes[2] == 1) return "PCX";
  if (LooksLikeTga(bytes)) return "TGA";
  return nullptr;
}

bool DecodeWithMagick(Bytes bytes, const char* magick, std::int64_t maxPixels, DecodedImage& out,
                      std::string& error) {
  InitializeOnce();
  // The resource caps are shared by the whole process: two large pictures decoded at once
  // could each be refused for the other's memory. These formats are rare among photos, so they
  // are decoded one at a time and a parallel load gives the same results as a sequential one.
  static std::mutex oneAtATime;
  const std::lock_guard<std::mutex> lock(oneAtATime);
  auto info = MakeInfo(magick);
  if (!info) {
    error = "not enough memory to decode the picture";
    return false;
  }
  // Read the size first: the limits set at start-up are those of kMaxPixels, the caller's
  // may be lower.
  {
    Exception exception;
    std::unique_ptr<Image, ImageListDeleter> ping(
        PingBlob(info.get(), bytes.data(), bytes.size(), &exception.info));
    if (!ping || exception.Failed()) {
      error = exception.Reason(magick);
      return false;
    }
    if (!CheckPictureSize(static_cast<std::int64_t>(ping->columns),
                          static_cast<std::int64_t>(ping->rows), bytes.size(), maxPixels, error)) {
      return false;
    }
  }
  Exception exception;
  std::unique_ptr<Image, ImageListDeleter> image(
      BlobToImage(info.get(), bytes.data(), bytes.size(), &exception.info));
  if (!image || exception.Failed()) {
    error = exception.Reason(magick);
    return false;
  }
  const auto width = static_cast<std::int64_t>(image->columns);
  const auto height = static_cast<std::int64_t>(image->rows);
  if (!CheckPictureSize(width, height, bytes.size(), maxPixels, error)) return false;

  const bool alpha = image->matte != MagickFalse;
  const std::size_t channels = alpha ? 4 : 3;
  const std::size_t bandRows =
      std::max<std::size_t>(1, kBandPixels / static_cast<std::size_t>(width));
  std::vector<std::uint8_t> band(std::min<std::size_t>(bandRows, height) * width * channels);
  BeginPixels(out, static_cast<int>(width), static_cast<int>(height));
  for (std::int64_t y = 0; y < height; y += static_cast<std::int64_t>(bandRows)) {
    const auto rows = static_cast<unsigned long>(
        std::min<std::int64_t>(static_cast<std::int64_t>(bandRows), height - y));
    if (DispatchImage(image.get(), 0, static_cast<long>(y), static_cast<unsigned long>(width), rows,
                      alpha ? "RGBA" : "RGB", CharPixel, band.data(),
                      &exception.info) != MagickPass) {
      out = DecodedImage{};
      error = exception.Reason(magick);
      return false;
    }
    for (unsigned long r = 0; r < rows; ++r) {
      std::uint8_t* row = AppendRow(out);
      const std::uint8_t* source = band.data() + r * static_cast<std::size_t>(width) * channels;
      if (alpha) {
        RgbaToRgbOnWhite(source, row, static_cast<std::size_t>(width));
      } else {
        std::memcpy(row, source, out.stride());
      }
    }
  }
  return true;
}

}  // namespace modrin::images::detail
