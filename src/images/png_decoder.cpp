// PNG through libpng. libpng's errors longjmp back to the setjmp in DecodePng; everything with
// a destructor is declared before it.

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "images/image_decoders.h"

namespace modrin::images::detail {

namespace {

struct PngContext {
  Bytes bytes;
  std::size_t offset = 0;
  bool truncated = false;
  char message[256] = {};
};

void OnPngError(png_structp png, png_const_charp text) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  if (context->truncated) {
    CopyMessage(context->message, sizeof context->message, "the PNG file is truncated");
  } else {
    std::snprintf(context->message, sizeof context->message, "corrupt PNG file: %s", text);
  }
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void ReadBytes(png_structp png, png_bytep data, std::size_t length) {
  auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
  if (length > context->bytes.size() - context->offset) {
    context->truncated = true;
    png_error(png, "truncated");
  }
  std::memcpy(data, context->bytes.data() + context->offset, length);
  context->offset += length;
}

}  // namespace

bool DecodePng(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error) {
  if (!IsPngSignature(bytes)) {
    error = "not a PNG file";
    return false;
  }
  // Objects with destructors first, before setjmp.
  std::vector<std::uint8_t> staging;  // RGBA rows, or a whole interlaced picture
  std::vector<png_bytep> rowPointers;
  std::vector<std::uint8_t> firstRow;  // of an interlaced picture
  std::string sizeError;

  PngContext context{bytes};
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, OnPngError, OnPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    error = "not enough memory to decode the picture";
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    out = DecodedImage{};
    error = context.message;
    return false;
  }
  png_set_read_fn(png, &context, ReadBytes);
  // Our own size check below replaces libpng's default cap of a million pixels per side.
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_read_info(png, info);

  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colorType = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
  if (!CheckPictureSize(width, height, bytes.size(), maxPixels, sizeError)) {
    png_destroy_read_struct(&png, &info, nullptr);
    error = sizeError;
    return false;
  }
  png_set_expand(png);  // palette -> RGB, grey below 8 bits -> 8 bits, tRNS -> alpha
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  if (channels != 3 && channels != 4) {
    png_destroy_read_struct(&png, &info, nullptr);
    error = "unsupported PNG colour layout";
    return false;
  }

  const std::size_t pixelCount = static_cast<std::size_t>(width) * height;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
  // An interlaced picture is held whole, as every pass revisits every row. Its first row is
  // read into a row of its own before anything of the picture's size is allocated, so a header
  // without the data it promises costs no memory. That row begins the first pass; libpng
  // writes only the pixels of the current pass into the row it is given.
  if (passes > 1) {
    try {
      firstRow.resize(rowBytes);
    } catch (const std::bad_alloc&) {
      png_destroy_read_struct(&png, &info, nullptr);
      error = "not enough memory to decode the picture";
      return false;
    }
    png_read_row(png, firstRow.data(), nullptr);
  }
  try {
    BeginPixels(out, static_cast<int>(width), static_cast<int>(height));
    if (passes > 1) {
      std::uint8_t* base;
      if (channels == 3) {
        out.pixels.resize(pixelCount * 3);
        base = out.pixels.data();
      } else {
        staging.resize(pixelCount * 4);
        base = staging.data();
      }
      std::memcpy(base, firstRow.data(), rowBytes);
      rowPointers.resize(height);
      for (png_uint_32 y = 0; y < height; ++y) {
        rowPointers[y] = base + static_cast<std::size_t>(y) * rowBytes;
      }
    } else if (channels == 4) {
      staging.resize(static_cast<std::size_t>(width) * 4);
    }
  } catch (const std::bad_alloc&) {
    png_destroy_read_struct(&png, &info, nullptr);
    out = DecodedImage{};
    error = "not enough memory to decode the picture";
    return false;
  }

  if (passes > 1) {
    // What png_read_image does, after the first row.
    for (int pass = 0; pass < passes; ++pass) {
      for (png_uint_32 y = pass == 0 ? 1 : 0; y < height; ++y) {
        png_read_row(png, rowPointers[y], nullptr);
      }
    }
    if (channels == 4) {
      out.pixels.resize(pixelCount * 3);  // within the reserved capacity
      RgbaToRgbOnWhite(staging.data(), out.pixels.data(), pixelCount);
    }
  } else {
    for (png_uint_32 y = 0; y < height; ++y) {
      std::uint8_t* row = AppendRow(out);
      if (channels == 3) {
        png_read_row(png, row, nullptr);
      } else {
        png_read_row(png, staging.data(), nullptr);
        RgbaToRgbOnWhite(staging.data(), row, width);
      }
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace modrin::images::detail
