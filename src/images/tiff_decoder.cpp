// TIFF through libtiff, reading from memory. libtiff's RGBA interface converts every
// photometric interpretation it knows (grey, palette, RGB, YCbCr, CMYK, CIELab, 16-bit) to
// 8-bit ABGR with premultiplied alpha; the picture is read in bands of whole strips or tiles
// so only one band of that 4-byte form is in memory at a time.

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "images/image_decoders.h"

namespace modrin::images::detail {

namespace {

constexpr std::size_t kBandBytes = std::size_t{4} << 20;

struct TiffContext {
  Bytes bytes;
  std::uint64_t offset = 0;
  char message[256] = {};
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* context = static_cast<TiffContext*>(handle);
  if (size < 0) return -1;
  const std::uint64_t available =
      context->offset < context->bytes.size() ? context->bytes.size() - context->offset : 0;
  const std::uint64_t count = std::min<std::uint64_t>(available, static_cast<std::uint64_t>(size));
  if (count > 0) std::memcpy(buffer, context->bytes.data() + context->offset, count);
  context->offset += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* context = static_cast<TiffContext*>(handle);
  // Relative offsets arrive as unsigned two's complement; positions past the end are allowed
  // (reads there return nothing), positions before the start are not.
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = context->offset;
  if (whence == SEEK_END) base = context->bytes.size();
  const std::uint64_t target = base + offset;
  if (whence != SEEK_SET && static_cast<std::int64_t>(offset) < 0 && target > base) {
    return static_cast<toff_t>(-1);
  }
  context->offset = target;
  return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<TiffContext*>(handle)->bytes.size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// Keeps the first error: later ones are usually its consequences.
int OnTiffError(TIFF*, void* user, const char*, const char* format, va_list args) {
  auto* context = static_cast<TiffContext*>(user);
  if (context->message[0] == '\0') {
    char text[200];
    std::vsnprintf(text, sizeof text, format, args);
    std::snprintf(context->message, sizeof context->message, "corrupt TIFF file: %s", text);
  }
  return 1;  // handled: libtiff's global handler (stderr) is not called
}

int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct RgbaImageEnd {
  TIFFRGBAImage* image;
  ~RgbaImageEnd() { TIFFRGBAImageEnd(image); }
};

std::uint8_t PremultipliedOnWhite(std::uint32_t channel, std::uint32_t alpha) {
  // Premultiplied colour on white: c + (1 - a). Damaged files may have c > a.
  return static_cast<std::uint8_t>(std::min<std::uint32_t>(255, channel + 255 - alpha));
}

}  // namespace

bool DecodeTiff(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error) {
  if (!IsTiffSignature(bytes)) {
    error = "not a TIFF file";
    return false;
  }
  // Some of libtiff's codecs still report through the process-wide handlers, which print to
  // stderr by default.
  static std::once_flag silenced;
  std::call_once(silenced, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });

  TiffContext context{bytes};
  std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(TIFFOpenOptionsAlloc(),
                                                                           &TIFFOpenOptionsFree);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnTiffError, &context);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnTiffWarning, &context);
  // A single uncompressed strip of an allowed picture (up to 8 bytes a pixel) must fit; a
  // bogus strip size in a tag must not reserve more.
  TIFFOpenOptionsSetMaxSingleMemAlloc(
      options.get(), static_cast<tmsize_t>(std::max<std::int64_t>(256 << 20, maxPixels * 8)));

  std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(
      TIFFClientOpenExt("memory", "r", &context, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                        MapProc, UnmapProc, options.get()),
      &TIFFClose);
  if (!tiff) {
    error = context.message[0] != '\0' ? context.message : "corrupt TIFF file";
    return false;
  }
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
  if (!CheckPictureSize(width, height, bytes.size(), maxPixels, error)) return false;

  char reason[1024] = {};
  TIFFRGBAImage rgba{};
  if (!TIFFRGBAImageBegin(&rgba, tiff.get(), /*stoponerr=*/1, reason)) {
    error = std::string("unsupported TIFF file: ") + reason;
    return false;
  }
  RgbaImageEnd end{&rgba};
  rgba.req_orientation = ORIENTATION_TOPLEFT;

  // Bands hold whole strips or tiles: a band boundary inside a strip would decode that strip
  // twice, and a picture stored as one strip once per band.
  std::uint32_t unit = 0;
  if (TIFFIsTiled(tiff.get())) {
    TIFFGetField(tiff.get(), TIFFTAG_TILELENGTH, &unit);
  } else {
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ROWSPERSTRIP, &unit);
  }
  unit = std::clamp<std::uint32_t>(unit, 1, height);
  const std::size_t wanted = std::max<std::size_t>(1, kBandBytes / (std::size_t{4} * width));
  const std::size_t bandRows =
      std::min<std::size_t>(height, (wanted + unit - 1) / unit * static_cast<std::size_t>(unit));
  const std::size_t bands = (height + bandRows - 1) / bandRows;
  // For bottom-up files libtiff reverses the rows of each band; taking the bands from the
  // end of the file then yields the picture top row first.
  const bool bottomUp =
      rgba.orientation == ORIENTATION_BOTRIGHT || rgba.orientation == ORIENTATION_BOTLEFT ||
      rgba.orientation == ORIENTATION_RIGHTBOT || rgba.orientation == ORIENTATION_LEFTBOT;

  // Left unwritten until libtiff fills it, so a bogus size costs no memory up front.
  const auto raster = std::make_unique_for_overwrite<std::uint32_t[]>(bandRows * width);
  BeginPixels(out, static_cast<int>(width), static_cast<int>(height));
  for (std::size_t i = 0; i < bands; ++i) {
    const std::size_t band = bottomUp ? bands - 1 - i : i;
    const std::size_t firstRow = band * bandRows;
    const std::size_t rows = std::min(bandRows, height - firstRow);
    rgba.row_offset = static_cast<int>(firstRow);
    rgba.col_offset = 0;
    if (!TIFFRGBAImageGet(&rgba, raster.get(), width, static_cast<std::uint32_t>(rows))) {
      out = DecodedImage{};
      error = context.message[0] != '\0' ? context.message : "corrupt TIFF file";
      return false;
    }
    for (std::size_t r = 0; r < rows; ++r) {
      std::uint8_t* row = AppendRow(out);
      const std::uint32_t* source = raster.get() + r * width;
      for (std::uint32_t x = 0; x < width; ++x) {
        const std::uint32_t abgr = source[x];
        const std::uint32_t alpha = TIFFGetA(abgr);
        row[3 * x] = PremultipliedOnWhite(TIFFGetR(abgr), alpha);
        row[3 * x + 1] = PremultipliedOnWhite(TIFFGetG(abgr), alpha);
        row[3 * x + 2] = PremultipliedOnWhite(TIFFGetB(abgr), alpha);
      }
    }
  }
  return true;
}

}  // namespace modrin::images::detail
