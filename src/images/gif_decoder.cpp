// GIF through giflib: the first frame only, drawn at its place on the logical screen. Screen
// pixels outside the frame and transparent pixels are white, as if the animation were shown
// on a white page.

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "images/image_decoders.h"

namespace modrin::images::detail {

namespace {

struct GifContext {
  Bytes bytes;
  std::size_t offset = 0;
};

int ReadFn(GifFileType* gif, GifByteType* buffer, int count) {
  auto* context = static_cast<GifContext*>(gif->UserData);
  if (count <= 0) return 0;
  const std::size_t n =
      std::min(static_cast<std::size_t>(count), context->bytes.size() - context->offset);
  std::memcpy(buffer, context->bytes.data() + context->offset, n);
  context->offset += n;
  return static_cast<int>(n);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int ignored = 0;
    DGifCloseFile(gif, &ignored);
  }
};

std::string GifError(int code) {
  if (code == D_GIF_ERR_READ_FAILED) return "the GIF file is truncated";
  const char* text = GifErrorString(code);
  return std::string("corrupt GIF file: ") + (text != nullptr ? text : "unknown error");
}

}  // namespace

bool DecodeGif(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error) {
  if (!IsGifSignature(bytes)) {
    error = "not a GIF file";
    return false;
  }
  GifContext context{bytes};
  int code = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&context, ReadFn, &code));
  if (!gif) {
    error = GifError(code);
    return false;
  }
  int transparent = -1;
  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) {
      error = GifError(gif->Error);
      return false;
    }
    if (record == TERMINATE_RECORD_TYPE) {
      error = "the GIF file holds no picture";
      return false;
    }
    if (record == EXTENSION_RECORD_TYPE) {
      int function = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &function, &block) == GIF_ERROR) {
        error = GifError(gif->Error);
        return false;
      }
      // Graphic control extension: flags, delay (2 bytes), transparent colour index.
      if (function == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
        transparent = (block[1] & 0x01) ? block[4] : -1;
      }
      while (block != nullptr) {
        if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
          error = GifError(gif->Error);
          return false;
        }
      }
      continue;
    }
    if (record == IMAGE_DESC_RECORD_TYPE) break;
  }
  if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
    error = GifError(gif->Error);
    return false;
  }
  const GifImageDesc& frame = gif->Image;
  if (frame.Left < 0 || frame.Top < 0 || frame.Width <= 0 || frame.Height <= 0) {
    error = "corrupt GIF file: bad frame size";
    return false;
  }
  // Damaged files have frames reaching past the screen; the screen grows to hold them.
  const std::int64_t width =
      std::max<std::int64_t>(gif->SWidth, std::int64_t{frame.Left} + frame.Width);
  const std::int64_t height =
      std::max<std::int64_t>(gif->SHeight, std::int64_t{frame.Top} + frame.Height);
  if (!CheckPictureSize(width, height, bytes.size(), maxPixels, error)) return false;
  const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
  if (map == nullptr || map->Colors == nullptr || map->ColorCount <= 0) {
    error = "corrupt GIF file: no colour table";
    return false;
  }

  std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
  const auto paintLine = [&](std::uint8_t* row) {
    std::uint8_t* pixel = row + 3 * static_cast<std::size_t>(frame.Left);
    for (const GifPixelType index : line) {
      if (index == transparent) {
        // Left as it is: white.
      } else if (index < map->ColorCount) {
        pixel[0] = map->Colors[index].Red;
        pixel[1] = map->Colors[index].Green;
        pixel[2] = map->Colors[index].Blue;
      } else {
        pixel[0] = pixel[1] = pixel[2] = 0;
      }
      pixel += 3;
    }
  };

  if (frame.Interlace) {
    // Interlaced rows arrive in four passes, so the whole screen is held at once. It is
    // allocated only once the first row has decoded: a header alone costs no memory.
    if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
      error = GifError(gif->Error);
      return false;
    }
    BeginPixels(out, static_cast<int>(width), static_cast<int>(height));
    const std::size_t stride = out.stride();
    out.pixels.resize(stride * static_cast<std::size_t>(height), 255);
    paintLine(out.pixels.data() + stride * static_cast<std::size_t>(frame.Top));
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
      // The first row of the first pass is painted already.
      for (int y = pass == 0 ? 8 : kStart[pass]; y < frame.Height; y += kStep[pass]) {
        if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
          out = DecodedImage{};
          error = GifError(gif->Error);
          return false;
        }
        paintLine(out.pixels.data() + stride * static_cast<std::size_t>(frame.Top + y));
      }
    }
    return true;
  }
  BeginPixels(out, static_cast<int>(width), static_cast<int>(height));
  const std::size_t stride = out.stride();
  for (std::int64_t y = 0; y < height; ++y) {
    std::uint8_t* row = AppendRow(out);
    std::memset(row, 255, stride);
    if (y < frame.Top || y >= frame.Top + frame.Height) continue;
    if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
      out = DecodedImage{};
      error = GifError(gif->Error);
      return false;
    }
    paintLine(row);
  }
  return true;
}

}  // namespace modrin::images::detail
