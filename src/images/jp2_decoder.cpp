// JPEG 2000 through OpenJPEG: the JP2 container and bare J2K codestreams (.j2k, .j2c, .jpc).
// OpenJPEG applies the codestream's colour transform and the container's palette and channel
// definitions itself; what remains here is scaling each component to 8 bits, subsampled
// components, sYCC and CMYK.

#include <openjpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "images/image_decoders.h"

namespace modrin::images::detail {

namespace {

struct Jp2Context {
  Bytes bytes;
  std::uint64_t offset = 0;
  char message[256] = {};
};

OPJ_SIZE_T ReadFn(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* context = static_cast<Jp2Context*>(user);
  if (context->offset >= context->bytes.size()) return static_cast<OPJ_SIZE_T>(-1);
  const std::uint64_t n = std::min<std::uint64_t>(count, context->bytes.size() - context->offset);
  std::memcpy(buffer, context->bytes.data() + context->offset, n);
  context->offset += n;
  return static_cast<OPJ_SIZE_T>(n);
}

OPJ_OFF_T SkipFn(OPJ_OFF_T count, void* user) {
  auto* context = static_cast<Jp2Context*>(user);
  const auto size = static_cast<std::int64_t>(context->bytes.size());
  const auto here = static_cast<std::int64_t>(context->offset);
  if (count < 0 ? -count > here : count > size - here) return -1;
  context->offset = static_cast<std::uint64_t>(here + count);
  return count;
}

OPJ_BOOL SeekFn(OPJ_OFF_T position, void* user) {
  auto* context = static_cast<Jp2Context*>(user);
  if (position < 0 || static_cast<std::uint64_t>(position) > context->bytes.size()) {
    return OPJ_FALSE;
  }
  context->offset = static_cast<std::uint64_t>(position);
  return OPJ_TRUE;
}

// Keeps the first error; OpenJPEG's messages end with a newline.
void OnError(const char* text, void* user) {
  auto* context = static_cast<Jp2Context*>(user);
  if (context->message[0] != '\0') return;
  std::snprintf(context->message, sizeof context->message, "corrupt JPEG 2000 file: %s", text);
  const std::size_t length = std::strlen(context->message);
  if (length > 0 && context->message[length - 1] == '\n') context->message[length - 1] = '\0';
}

void OnQuiet(const char*, void*) {}

struct CodecDeleter {
  void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
  void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

// Number of samples of a component along one axis of the reference grid [begin, end).
std::uint64_t Samples(std::uint32_t begin, std::uint32_t end, std::uint32_t step) {
  if (step == 0 || end <= begin) return 0;
  return (std::uint64_t{end} + step - 1) / step - (std::uint64_t{begin} + step - 1) / step;
}

// Reads one component at output pixel (x, y), scaled to 0..255. Components may be coarser
// than the first one (subsampled chroma); they are sampled at the nearest coarser position.
class ComponentReader {
 public:
  ComponentReader(const opj_image_comp_t& component, const opj_image_comp_t& reference)
      : component_(component),
        xScale_(reference.dx),
        yScale_(reference.dy),
        offset_(component.sgnd ? std::int64_t{1} << (component.prec - 1) : 0),
        maximum_((std::int64_t{1} << component.prec) - 1) {}

  unsigned operator()(std::uint32_t x, std::uint32_t y) const {
    const auto cx = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{x} * xScale_ / component_.dx, component_.w - 1));
    const auto cy = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{y} * yScale_ / component_.dy, component_.h - 1));
    const std::int64_t raw = std::clamp<std::int64_t>(
        component_.data[std::size_t{cy} * component_.w + cx] + offset_, 0, maximum_);
    if (component_.prec >= 8) return static_cast<unsigned>(raw >> (component_.prec - 8));
    return static_cast<unsigned>((raw * 255 + maximum_ / 2) / maximum_);
  }

 private:
  const opj_image_comp_t& component_;
  std::uint32_t xScale_;
  std::uint32_t yScale_;
  std::int64_t offset_;
  std::int64_t maximum_;
};

std::uint8_t Clamp255(double value) {
  return static_cast<std::uint8_t>(std::clamp(value + 0.5, 0.0, 255.0));
}

std::uint32_t Be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The codestream of a JP2 file: the contents of its "jp2c" box, found by walking the top-level
// box headers. Empty when there is none; OpenJPEG then reports the damage.
Bytes FindCodestream(Bytes file) {
  std::size_t at = 0;
  while (file.size() - at >= 8) {
    const std::uint8_t* box = file.data() + at;
    const bool codestream = std::memcmp(box + 4, "jp2c", 4) == 0;
    std::uint64_t length = Be32(box);
    std::size_t header = 8;
    if (length == 1) {
      if (file.size() - at < 16) return {};
      length = std::uint64_t{Be32(box + 8)} << 32 | Be32(box + 12);
      header = 16;
    } else if (length == 0) {
      length = file.size() - at;  // the last box runs to the end of the file
    }
    if (codestream) {
      return file.subspan(at + header, std::min<std::uint64_t>(length, file.size() - at) - header);
    }
    if (length < header || length > file.size() - at) return {};
    at += length;
  }
  return {};
}

// OpenJPEG sets up the bookkeeping of every tile while reading the header, hundreds of bytes
// per tile and component, so a 100-byte file claiming 65535 tiles costs most of a gigabyte.
// The SIZ segment, which follows the start marker at fixed offsets, is checked first: the
// picture size, and whether the tiles could be present at all (each needs a tile-part header
// of at least 14 bytes, and each of its components at least one bit of packet header).
// Malformed values are left for OpenJPEG to report. `fileBytes` is the length of the whole file.
bool CheckCodestreamHeader(Bytes codestream, std::size_t fileBytes, std::int64_t maxPixels,
                           std::string& error) {
  if (codestream.size() < 42 || !IsJ2kSignature(codestream)) return true;
  const std::uint8_t* siz = codestream.data();
  const std::uint32_t xsiz = Be32(siz + 8), ysiz = Be32(siz + 12);
  const std::uint32_t xosiz = Be32(siz + 16), yosiz = Be32(siz + 20);
  const std::uint32_t xtsiz = Be32(siz + 24), ytsiz = Be32(siz + 28);
  const std::uint32_t xtosiz = Be32(siz + 32), ytosiz = Be32(siz + 36);
  const std::uint32_t components = std::uint32_t{siz[40]} << 8 | siz[41];
  if (xsiz <= xosiz || ysiz <= yosiz || xtsiz == 0 || ytsiz == 0 || xtosiz > xosiz ||
      ytosiz > yosiz) {
    return true;
  }
  if (!CheckPictureSize(xsiz - xosiz, ysiz - yosiz, fileBytes, maxPixels, error)) return false;
  const std::uint64_t tiles = (std::uint64_t{xsiz - xtosiz} + xtsiz - 1) / xtsiz *
                              ((std::uint64_t{ysiz - ytosiz} + ytsiz - 1) / ytsiz);
  if (tiles * 14 > codestream.size() || tiles * components > codestream.size() * 8) {
    error = "corrupt JPEG 2000 file: " + std::to_string(tiles) + " tiles of " +
            std::to_string(components) + " components cannot fit in " +
            std::to_string(codestream.size()) + " bytes";
    return false;
  }
  return true;
}

}  // namespace

bool DecodeJpeg2000(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error) {
  const bool container = IsJp2Signature(bytes);
  if (!container && !IsJ2kSignature(bytes)) {
    error = "not a JPEG 2000 file";
    return false;
  }
  if (!CheckCodestreamHeader(container ? FindCodestream(bytes) : bytes, bytes.size(), maxPixels,
                             error)) {
    return false;
  }
  Jp2Context context{bytes};
  std::unique_ptr<opj_codec_t, CodecDeleter> codec(
      opj_create_decompress(container ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  std::unique_ptr<opj_stream_t, StreamDeleter> stream(
      opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  if (!codec || !stream) {
    error = "not enough memory to decode the picture";
    return false;
  }
  opj_set_error_handler(codec.get(), OnError, &context);
  opj_set_warning_handler(codec.get(), OnQuiet, nullptr);
  opj_set_info_handler(codec.get(), OnQuiet, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(codec.get(), &parameters)) {
    error = "cannot set up the JPEG 2000 decoder";
    return false;
  }
  // A codestream cut short is refused rather than shown half decoded.
  opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE);
  opj_stream_set_read_function(stream.get(), ReadFn);
  opj_stream_set_skip_function(stream.get(), SkipFn);
  opj_stream_set_seek_function(stream.get(), SeekFn);
  opj_stream_set_user_data(stream.get(), &context, nullptr);
  opj_stream_set_user_data_length(stream.get(), bytes.size());

  opj_image_t* header = nullptr;
  const bool headerOk = opj_read_header(stream.get(), codec.get(), &header);
  std::unique_ptr<opj_image_t, ImageDeleter> image(header);
  const auto fail = [&](const char* fallback) {
    out = DecodedImage{};
    error = context.message[0] != '\0' ? context.message : fallback;
    return false;
  };
  if (!headerOk || !image || image->numcomps == 0) return fail("corrupt JPEG 2000 header");

  // OpenJPEG holds every component as 32-bit samples. Allow what a full-size RGBA picture
  // needs, so a header with many components cannot claim more.
  std::uint64_t samples = 0;
  for (std::uint32_t i = 0; i < image->numcomps; ++i) {
    const opj_image_comp_t& c = image->comps[i];
    if (c.prec == 0 || c.prec > 31) return fail("unsupported JPEG 2000 sample precision");
    const std::uint64_t w = Samples(image->x0, image->x1, c.dx);
    const std::uint64_t h = Samples(image->y0, image->y1, c.dy);
    if (i == 0 && !CheckPictureSize(static_cast<std::int64_t>(w), static_cast<std::int64_t>(h),
                                    bytes.size(), maxPixels, error)) {
      return false;
    }
    samples += w * h;
    if (samples > static_cast<std::uint64_t>(maxPixels) * 4) {
      error = "the JPEG 2000 picture has too many components";
      return false;
    }
  }

  if (!opj_decode(codec.get(), stream.get(), image.get()) ||
      !opj_end_decompress(codec.get(), stream.get())) {
    return fail("corrupt JPEG 2000 file");
  }

  // Palette expansion may have changed the components; check again what is there now.
  const std::uint32_t count = image->numcomps;
  if (count == 0) return fail("corrupt JPEG 2000 file");
  const opj_image_comp_t& first = image->comps[0];
  for (std::uint32_t i = 0; i < count; ++i) {
    const opj_image_comp_t& c = image->comps[i];
    if (c.data == nullptr || c.w == 0 || c.h == 0 || c.dx == 0 || c.dy == 0 || c.prec == 0 ||
        c.prec > 31) {
      return fail("corrupt JPEG 2000 file");
    }
  }
  if (!CheckPictureSize(first.w, first.h, bytes.size(), maxPixels, error)) return false;

  const bool cmyk = image->color_space == OPJ_CLRSPC_CMYK && count >= 4;
  const bool ycc =
      (image->color_space == OPJ_CLRSPC_SYCC || image->color_space == OPJ_CLRSPC_EYCC) &&
      count >= 3;
  const bool colour = count >= 3;
  // Alpha: the component flagged as such, else the second of two or the fourth of four.
  int alphaIndex = -1;
  for (std::uint32_t i = 1; i < count; ++i) {
    if (image->comps[i].alpha) alphaIndex = static_cast<int>(i);
  }
  if (alphaIndex < 0 && !cmyk && (count == 2 || count == 4)) {
    alphaIndex = static_cast<int>(count) - 1;
  }

  std::vector<ComponentReader> readers;
  readers.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) readers.emplace_back(image->comps[i], first);

  const int width = static_cast<int>(first.w);
  const int height = static_cast<int>(first.h);
  BeginPixels(out, width, height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = AppendRow(out);
    for (int x = 0; x < width; ++x) {
      unsigned r;
      unsigned g;
      unsigned b;
      const auto ux = static_cast<std::uint32_t>(x);
      const auto uy = static_cast<std::uint32_t>(y);
      if (cmyk) {
        const unsigned k = 255 - readers[3](ux, uy);
        r = ((255 - readers[0](ux, uy)) * k + 127) / 255;
        g = ((255 - readers[1](ux, uy)) * k + 127) / 255;
        b = ((255 - readers[2](ux, uy)) * k + 127) / 255;
      } else if (ycc) {
        const double luma = readers[0](ux, uy);
        const double cb = readers[1](ux, uy) - 128.0;
        const double cr = readers[2](ux, uy) - 128.0;
        r = Clamp255(luma + 1.402 * cr);
        g = Clamp255(luma - 0.344136 * cb - 0.714136 * cr);
        b = Clamp255(luma + 1.772 * cb);
      } else if (colour) {
        r = readers[0](ux, uy);
        g = readers[1](ux, uy);
        b = readers[2](ux, uy);
      } else {
        r = g = b = readers[0](ux, uy);
      }
      if (alphaIndex >= 0 && !cmyk) {
        const unsigned alpha = readers[static_cast<std::size_t>(alphaIndex)](ux, uy);
        r = OnWhite(r, alpha);
        g = OnWhite(g, alpha);
        b = OnWhite(b, alpha);
      }
      row[3 * x] = static_cast<std::uint8_t>(r);
      row[3 * x + 1] = static_cast<std::uint8_t>(g);
      row[3 * x + 2] = static_cast<std::uint8_t>(b);
    }
  }
  return true;
}

}  // namespace modrin::images::detail
