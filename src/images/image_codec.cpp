#include "images/image_codec.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>

#include "images/image_decoders.h"

namespace modrin::images {

namespace detail {

bool CheckPictureSize(std::int64_t width, std::int64_t height, std::size_t fileBytes,
                      std::int64_t maxPixels, std::string& error) {
  if (width <= 0 || height <= 0) {
    error = "corrupt header: the picture has no pixels";
    return false;
  }
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  // Dividing instead of multiplying keeps the test free of overflow for any header values.
  if (width > maxPixels || height > maxPixels / width) {
    error = "the picture is too large (" + size + "; at most " + std::to_string(maxPixels) +
            " are supported)";
    return false;
  }
  // Both factors are at most kMaxFileBytes (2^31) and 2^16 here, and width * height is at most
  // maxPixels: neither product overflows.
  const std::int64_t plausible =
      static_cast<std::int64_t>(std::min<std::size_t>(fileBytes, kMaxFileBytes)) *
      kPixelsPerFileByte;
  if (width * height > plausible) {
    error = "corrupt header: a file of " + std::to_string(fileBytes) +
            " bytes cannot hold a picture of " + size;
    return false;
  }
  return true;
}

void BeginPixels(DecodedImage& image, int width, int height) {
  image.width = width;
  image.height = height;
  image.pixels.clear();
  image.pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
}

void RgbaToRgbOnWhite(const std::uint8_t* rgba, std::uint8_t* rgb, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i, rgba += 4, rgb += 3) {
    const unsigned alpha = rgba[3];
    rgb[0] = OnWhite(rgba[0], alpha);
    rgb[1] = OnWhite(rgba[1], alpha);
    rgb[2] = OnWhite(rgba[2], alpha);
  }
}

void CopyMessage(char* buffer, std::size_t capacity, const char* text) {
  if (capacity == 0) return;
  std::size_t length = text != nullptr ? std::strlen(text) : 0;
  length = std::min(length, capacity - 1);
  if (length > 0) std::memcpy(buffer, text, length);
  buffer[length] = '\0';
}

namespace {

bool StartsWith(Bytes bytes, std::initializer_list<std::uint8_t> prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

}  // namespace

bool IsJpegSignature(Bytes b) { return StartsWith(b, {0xFF, 0xD8, 0xFF}); }
bool IsPngSignature(Bytes b) {
  return StartsWith(b, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
}
bool IsTiffSignature(Bytes b) {
  // Classic TIFF (42) and BigTIFF (43), in both byte orders.
  return StartsWith(b, {'I', 'I', 42, 0}) || StartsWith(b, {'M', 'M', 0, 42}) ||
         StartsWith(b, {'I', 'I', 43, 0}) || StartsWith(b, {'M', 'M', 0, 43});
}
bool IsJp2Signature(Bytes b) {
  return StartsWith(b, {0x00, 0x00, 0x00, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A});
}
bool IsJ2kSignature(Bytes b) { return StartsWith(b, {0xFF, 0x4F, 0xFF, 0x51}); }
bool IsGifSignature(Bytes b) {
  return StartsWith(b, {'G', 'I', 'F', '8', '7', 'a'}) ||
         StartsWith(b, {'G', 'I', 'F', '8', '9', 'a'});
}

}  // namespace detail

namespace {

using detail::Bytes;

std::string ToLower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The decoders a picture can be handed to; BMP goes to GraphicsMagick like the other formats
// without a decoder of our own.
enum class Decoder { None, Jpeg, Png, Tiff, Jpeg2000, Gif, Pgx, Magick };

struct Attempt {
  Decoder decoder = Decoder::None;
  const char* magick = nullptr;  // the GraphicsMagick coder when decoder is Magick
  bool operator==(const Attempt& other) const {
    return decoder == other.decoder &&
           (decoder != Decoder::Magick || std::string_view(magick) == other.magick);
  }
};

Attempt AttemptForHint(ImageFormat hint) {
  switch (hint) {
    case ImageFormat::Jpeg:
      return {Decoder::Jpeg};
    case ImageFormat::Png:
      return {Decoder::Png};
    case ImageFormat::Tiff:
      return {Decoder::Tiff};
    case ImageFormat::Jpeg2000:
      return {Decoder::Jpeg2000};
    case ImageFormat::Gif:
      return {Decoder::Gif};
    case ImageFormat::Bmp:
      return {Decoder::Magick, "BMP"};
    case ImageFormat::Unknown:
    case ImageFormat::Other:
      break;
  }
  return {};
}

Attempt AttemptForContent(Bytes bytes, const std::string& extension) {
  if (detail::IsJpegSignature(bytes)) return {Decoder::Jpeg};
  if (detail::IsPngSignature(bytes)) return {Decoder::Png};
  if (detail::IsTiffSignature(bytes)) return {Decoder::Tiff};
  if (detail::IsJp2Signature(bytes) || detail::IsJ2kSignature(bytes)) return {Decoder::Jpeg2000};
  if (detail::IsGifSignature(bytes)) return {Decoder::Gif};
  if (detail::IsPgxSignature(bytes)) return {Decoder::Pgx};
  if (const char* magick = detail::MagickFormatFor(bytes, extension)) {
    return {Decoder::Magick, magick};
  }
  return {};
}

bool Run(const Attempt& attempt, Bytes bytes, std::int64_t maxPixels, DecodedImage& image,
         std::string& error) {
  image = DecodedImage{};
  bool ok = false;
  ImageFormat format = ImageFormat::Other;
  switch (attempt.decoder) {
    case Decoder::None:
      error = "not a picture in a supported format";
      return false;
    case Decoder::Jpeg:
      ok = detail::DecodeJpeg(bytes, maxPixels, image, error);
      format = ImageFormat::Jpeg;
      break;
    case Decoder::Png:
      ok = detail::DecodePng(bytes, maxPixels, image, error);
      format = ImageFormat::Png;
      break;
    case Decoder::Tiff:
      ok = detail::DecodeTiff(bytes, maxPixels, image, error);
      format = ImageFormat::Tiff;
      break;
    case Decoder::Jpeg2000:
      ok = detail::DecodeJpeg2000(bytes, maxPixels, image, error);
      format = ImageFormat::Jpeg2000;
      break;
    case Decoder::Gif:
      ok = detail::DecodeGif(bytes, maxPixels, image, error);
      format = ImageFormat::Gif;
      break;
    case Decoder::Pgx:
      ok = detail::DecodePgx(bytes, maxPixels, image, error);
      break;
    case Decoder::Magick:
      ok = detail::DecodeWithMagick(bytes, attempt.magick, maxPixels, image, error);
      format = std::string_view(attempt.magick) == "BMP" ? ImageFormat::Bmp : ImageFormat::Other;
      break;
  }
  if (!ok) {
    image = DecodedImage{};
    if (error.empty()) error = "the picture could not be decoded";
    return false;
  }
  image.format = format;
  return true;
}

}  // namespace

ImageFormat FormatHintForExtension(const std::string& lowerExtension) {
  const std::string extension = ToLower(lowerExtension);
  if (extension == "bmp") return ImageFormat::Bmp;
  if (extension == "jpg" || extension == "jpeg") return ImageFormat::Jpeg;
  return ImageFormat::Unknown;
}

DecodeResult DecodeImageBytes(std::span<const std::uint8_t> bytes, ImageFormat hint) {
  return DecodeImageBytes(bytes, hint, DecodeOptions{});
}

DecodeResult DecodeImageBytes(std::span<const std::uint8_t> bytes, ImageFormat hint,
                              const DecodeOptions& options) {
  DecodeResult result;
  try {
    if (bytes.empty()) {
      result.error = "the file is empty";
      return result;
    }
    const Attempt hinted = AttemptForHint(hint);
    std::string hintedError;
    if (hinted.decoder != Decoder::None) {
      if (Run(hinted, bytes, options.maxPixels, result.image, hintedError)) {
        result.ok = true;
        return result;
      }
    }
    const Attempt byContent = AttemptForContent(bytes, ToLower(options.extension));
    if (byContent.decoder == Decoder::None || byContent == hinted) {
      // Nothing else to try: the hinted decoder's reason is the most telling one.
      result.error = hintedError.empty() ? "not a picture in a supported format" : hintedError;
      return result;
    }
    result.ok = Run(byContent, bytes, options.maxPixels, result.image, result.error);
  } catch (const std::bad_alloc&) {
    result = DecodeResult{};
    result.error = "not enough memory to decode the picture";
  }
  return result;
}

DecodeResult DecodeImageFile(const std::string& path, ImageFormat hint) {
  DecodeResult result;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) {
    result.error = std::string("cannot open the file: ") + std::strerror(errno);
    return result;
  }
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    result.error = "cannot read the file: it is not a regular file";
    return result;
  }
  if (info.st_size > kMaxFileBytes) {
    result.error =
        "the file is too large (more than " + std::to_string(kMaxFileBytes >> 20) + " MiB)";
    return result;
  }
  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    result.error = "not enough memory to read the file";
    return result;
  }
  if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    result.error = std::string("cannot read the file: ") +
                   (std::ferror(file.get()) ? std::strerror(errno) : "it changed while reading");
    return result;
  }
  file.reset();

  DecodeOptions options;
  std::string extension = std::filesystem::path(path).extension().string();
  if (!extension.empty()) options.extension = ToLower(extension.substr(1));
  return DecodeImageBytes(bytes, hint, options);
}

std::string ImageFileFilter(bool selector) {
  // The dialog's table: each entry with the format it stands for and whether it is offered
  // for each selector value. All entries are offered for both.
  struct FilterEntry {
    std::string_view description;
    std::string_view patterns;
    ImageFormat format;
    bool forFalse;
    bool forTrue;
  };
  static constexpr FilterEntry kEntries[] = {
      {"Supported files",
       "*.bmp;*.gif;*.jpg;*.jpeg;*.png;*.ico;*.tif;*.tiff;*.tga;*.pcx;*.wbmp;*.wmf;*.emf;*.j2k;"
       "*.jp2;*.jbg;*.j2c;*.jpc;*.pgx;*.pnm;*.pgm;*.ppm;*.ras",
       ImageFormat::Unknown, true, true},
      {"BMP files", "*.bmp", ImageFormat::Bmp, true, true},
      {"JPG files", "*.jpg;*.jpeg", ImageFormat::Jpeg, true, true},
  };
  std::string filter;
  for (const FilterEntry& entry : kEntries) {
    if (!(selector ? entry.forTrue : entry.forFalse)) continue;
    filter.append(entry.description);
    filter.push_back('\0');
    filter.append(entry.patterns);
    filter.push_back('\0');
  }
  return filter;
}

}  // namespace modrin::images
