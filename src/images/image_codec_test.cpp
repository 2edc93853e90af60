#include "images/image_codec.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <openjpeg.h>
#include <png.h>
#include <sys/resource.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "images/jpeg_writer.h"
#include "temp_dir.h"

namespace modrin::images {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<int, 3>;
using modrin::testing::TempDir;

Bytes ReadBytes(const std::string& path) {
  const std::string text = modrin::testing::ReadFileText(path);
  return Bytes(text.begin(), text.end());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  ASSERT_TRUE(modrin::testing::WriteFileText(path, std::string(bytes.begin(), bytes.end())));
}

// A picture whose every pixel differs from its neighbours and from its mirror images, so any
// flip, transposition or channel swap shows.
DecodedImage Pattern(int width, int height) {
  DecodedImage image;
  image.width = width;
  image.height = height;
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      image.pixels.push_back(static_cast<std::uint8_t>(x * 37 + row * 11 + 3));
      image.pixels.push_back(static_cast<std::uint8_t>(row * 53 + 7));
      image.pixels.push_back(static_cast<std::uint8_t>((x * 29) ^ (row * 17)));
    }
  }
  return image;
}

Rgb At(const DecodedImage& image, int x, int rowFromTop) {
  const std::uint8_t* p = image.pixels.data() + rowFromTop * image.stride() + x * 3;
  return {p[0], p[1], p[2]};
}

DecodeResult Decode(const Bytes& bytes, ImageFormat hint = ImageFormat::Unknown,
                    const std::string& extension = "") {
  DecodeOptions options;
  options.extension = extension;
  return DecodeImageBytes(bytes, hint, options);
}

void ExpectDecodesTo(const Bytes& bytes, const DecodedImage& expected, ImageFormat format) {
  const DecodeResult result = Decode(bytes);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.image.format, format);
  EXPECT_EQ(result.image.width, expected.width);
  EXPECT_EQ(result.image.height, expected.height);
  EXPECT_EQ(result.image.pixels, expected.pixels);
}

// ---- writers for the test files ----

Bytes Rows(const PixelBuffer& pixels) { return Bytes(pixels.begin(), pixels.end()); }

Bytes WritePng(int width, int height, int colorType, int bitDepth, const Bytes& rows,
               bool interlaced = false, const std::vector<png_color>& palette = {},
               const Bytes& transparency = {}) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, std::size_t n) {
        auto* target = static_cast<Bytes*>(png_get_io_ptr(p));
        target->insert(target->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, width, height, bitDepth, colorType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) {
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  }
  if (!transparency.empty()) {
    png_set_tRNS(png, info, transparency.data(), static_cast<int>(transparency.size()), nullptr);
  }
  png_write_info(png, info);
  const std::size_t rowBytes = rows.size() / height;
  std::vector<png_bytep> pointers;
  for (int y = 0; y < height; ++y) {
    pointers.push_back(const_cast<png_bytep>(rows.data() + y * rowBytes));
  }
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct TiffLayout {
  int samples = 3;
  int bits = 8;
  int photometric = PHOTOMETRIC_RGB;
  int orientation = ORIENTATION_TOPLEFT;
  int extra = -1;        // EXTRASAMPLE_* of a last alpha sample, -1 for none
  int rowsPerStrip = 0;  // 0: libtiff's default
  int compression = COMPRESSION_NONE;
};

// `rows` are in file order: the first stored row first.
Bytes WriteTiff(const TempDir& dir, int width, int height, const TiffLayout& layout,
                const Bytes& rows) {
  const std::string path = dir.File("picture.tif");
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bits);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_ORIENTATION, layout.orientation);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
  if (layout.extra >= 0) {
    const std::uint16_t extra = static_cast<std::uint16_t>(layout.extra);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
               layout.rowsPerStrip > 0 ? layout.rowsPerStrip : TIFFDefaultStripSize(tiff, 0));
  const std::size_t rowBytes = rows.size() / height;
  for (int y = 0; y < height; ++y) {
    TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(rows.data() + y * rowBytes), y, 0);
  }
  TIFFClose(tiff);
  return ReadBytes(path);
}

struct GifFrame {
  int screenWidth, screenHeight;
  int left, top, width, height;
  bool interlaced = false;
  int transparent = -1;
};

Bytes WriteGif(const GifFrame& frame, const std::vector<GifColorType>& colors,
               const Bytes& indices) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(
      &out,
      [](GifFileType* g, const GifByteType* data, int n) {
        auto* target = static_cast<Bytes*>(g->UserData);
        target->insert(target->end(), data, data + n);
        return n;
      },
      &error);
  EGifSetGifVersion(gif, true);
  ColorMapObject* map = GifMakeMapObject(static_cast<int>(colors.size()), colors.data());
  EGifPutScreenDesc(gif, frame.screenWidth, frame.screenHeight, 8, 0, map);
  if (frame.transparent >= 0) {
    GraphicsControlBlock control{};
    control.TransparentColor = frame.transparent;
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
  }
  EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced,
                   nullptr);
  auto putRow = [&](int y) {
    EGifPutLine(gif, const_cast<GifPixelType*>(indices.data() + y * frame.width), frame.width);
  };
  if (frame.interlaced) {
    for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
      for (int y = start; y < frame.height; y += step) putRow(y);
    }
  } else {
    for (int y = 0; y < frame.height; ++y) putRow(y);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

// Lossless JPEG 2000 of 8-bit components; `planes` holds one top-down plane per component.
Bytes WriteJpeg2000(const TempDir& dir, bool container, int width, int height,
                    const std::vector<Bytes>& planes) {
  const auto count = static_cast<OPJ_UINT32>(planes.size());
  std::vector<opj_image_cmptparm_t> parameters(count);
  for (auto& p : parameters) {
    std::memset(&p, 0, sizeof p);
    p.dx = p.dy = 1;
    p.w = static_cast<OPJ_UINT32>(width);
    p.h = static_cast<OPJ_UINT32>(height);
    p.prec = 8;
  }
  opj_image_t* image =
      opj_image_create(count, parameters.data(), count >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
  image->x1 = static_cast<OPJ_UINT32>(width);
  image->y1 = static_cast<OPJ_UINT32>(height);
  for (OPJ_UINT32 c = 0; c < count; ++c) {
    for (std::size_t i = 0; i < planes[c].size(); ++i) image->comps[c].data[i] = planes[c][i];
  }
  opj_cparameters_t settings;
  opj_set_default_encoder_parameters(&settings);
  settings.numresolution = 2;
  settings.tcp_mct = count >= 3 ? 1 : 0;
  opj_codec_t* codec = opj_create_compress(container ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  opj_setup_encoder(codec, &settings, image);
  const std::string path = dir.File(container ? "picture.jp2" : "picture.j2k");
  opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_FALSE);
  const bool ok = opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                  opj_end_compress(codec, stream);
  opj_stream_destroy(stream);
  opj_destroy_codec(codec);
  opj_image_destroy(image);
  EXPECT_TRUE(ok);
  return ReadBytes(path);
}

enum class JpegCoding { Baseline, Progressive, Arithmetic };

// JPEG of grey (1 component), RGB (3) or CMYK (4) samples, written with libjpeg directly.
Bytes WriteJpegComponents(int width, int height, int components, const Bytes& samples,
                          int quality = 100, JpegCoding coding = JpegCoding::Baseline) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (coding == JpegCoding::Progressive) jpeg_simple_progression(&cinfo);
  cinfo.arith_code = coding == JpegCoding::Arithmetic;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples.data() + cinfo.next_scanline * width * components);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

void PutLe(Bytes& b, std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A 24-bit BMP, stored bottom-up as BMPs are.
Bytes WriteBmp(const DecodedImage& image, int claimedWidth = 0, int claimedHeight = 0) {
  const int rowBytes = (image.width * 3 + 3) / 4 * 4;
  Bytes b = {'B', 'M'};
  PutLe(b, 54 + rowBytes * image.height, 4);
  PutLe(b, 0, 4);
  PutLe(b, 54, 4);
  PutLe(b, 40, 4);
  PutLe(b, claimedWidth ? claimedWidth : image.width, 4);
  PutLe(b, claimedHeight ? claimedHeight : image.height, 4);
  PutLe(b, 1, 2);
  PutLe(b, 24, 2);
  PutLe(b, 0, 4);
  PutLe(b, rowBytes * image.height, 4);
  PutLe(b, 2835, 4);
  PutLe(b, 2835, 4);
  PutLe(b, 0, 4);
  PutLe(b, 0, 4);
  for (int row = image.height - 1; row >= 0; --row) {
    for (int x = 0; x < image.width; ++x) {
      const Rgb p = At(image, x, row);
      b.insert(b.end(), {static_cast<std::uint8_t>(p[2]), static_cast<std::uint8_t>(p[1]),
                         static_cast<std::uint8_t>(p[0])});
    }
    b.resize(b.size() + rowBytes - image.width * 3, 0);
  }
  return b;
}

Bytes WritePpm(const DecodedImage& image) {
  const std::string header =
      "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
  Bytes b(header.begin(), header.end());
  b.insert(b.end(), image.pixels.begin(), image.pixels.end());
  return b;
}

Bytes RgbToGrey(const DecodedImage& image) {
  Bytes grey;
  for (std::size_t i = 0; i < image.pixels.size(); i += 3) grey.push_back(image.pixels[i]);
  return grey;
}

DecodedImage GreyToRgb(int width, int height, const Bytes& grey) {
  DecodedImage image;
  image.width = width;
  image.height = height;
  for (const std::uint8_t v : grey) image.pixels.insert(image.pixels.end(), {v, v, v});
  return image;
}

// ---- file-type table ----

TEST(FormatHintTest, FollowsTheExtension) {
  EXPECT_EQ(FormatHintForExtension("bmp"), ImageFormat::Bmp);
  EXPECT_EQ(FormatHintForExtension("jpg"), ImageFormat::Jpeg);
  EXPECT_EQ(FormatHintForExtension("jpeg"), ImageFormat::Jpeg);
  EXPECT_EQ(FormatHintForExtension("JPG"), ImageFormat::Jpeg);
  EXPECT_EQ(FormatHintForExtension("png"), ImageFormat::Unknown);
  EXPECT_EQ(FormatHintForExtension("v2\\picture"), ImageFormat::Unknown);
  EXPECT_EQ(FormatHintForExtension(""), ImageFormat::Unknown);
}

TEST(ImageFileFilterTest, ListsThreeEntriesWithNulSeparators) {
  const std::string expected = std::string("Supported files") + '\0' +
                               "*.bmp;*.gif;*.jpg;*.jpeg;*.png;*.ico;*.tif;*.tiff;*.tga;*.pcx;"
                               "*.wbmp;*.wmf;*.emf;*.j2k;*.jp2;*.jbg;*.j2c;*.jpc;*.pgx;*.pnm;"
                               "*.pgm;*.ppm;*.ras" +
                               '\0' + "BMP files" + '\0' + "*.bmp" + '\0' + "JPG files" + '\0' +
                               "*.jpg;*.jpeg" + '\0';
  EXPECT_EQ(ImageFileFilter(true), expected);
  EXPECT_EQ(ImageFileFilter(false), expected);
}

TEST(DecodedImageTest, PixelCountsRowsFromTheBottom) {
  const DecodedImage image = Pattern(3, 2);
  EXPECT_EQ(image.Pixel(0, 0), image.pixels.data() + image.stride());  // bottom-left
  EXPECT_EQ(image.Pixel(2, 1), image.pixels.data() + 6);               // top-right
}

// ---- lossless formats: every pixel back, top row first ----

TEST(DecodedImageTest, LargeAndSmallBuffersGrowCopyAndFree) {
  // A full-size picture takes the huge-page path of the allocator, a thumbnail the ordinary
  // one; growing moves between them. The sanitizer build checks every allocation is freed
  // by its own kind.
  DecodedImage large = DecodedImage::Filled(2000, 1500, 7);
  DecodedImage small = DecodedImage::Filled(20, 15, 9);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large.pixels.data()) % (std::uintptr_t{2} << 20), 0u);
  DecodedImage copy = large;
  small.pixels.resize(large.pixels.size(), 9);
  large.pixels.shrink_to_fit();
  EXPECT_EQ(copy.pixels, large.pixels);
  EXPECT_EQ(*large.Pixel(1999, 0), 7);
  EXPECT_EQ(small.pixels.back(), 9);
}

TEST(DecodeTest, LosslessFormatsGiveBackEveryPixelTopRowFirst) {
  TempDir dir;
  const DecodedImage image = Pattern(7, 5);
  ExpectDecodesTo(WritePng(7, 5, PNG_COLOR_TYPE_RGB, 8, Rows(image.pixels)), image,
                  ImageFormat::Png);
  ExpectDecodesTo(WriteTiff(dir, 7, 5, {}, Rows(image.pixels)), image, ImageFormat::Tiff);
  ExpectDecodesTo(WriteBmp(image), image, ImageFormat::Bmp);
  ExpectDecodesTo(WritePpm(image), image, ImageFormat::Other);

  std::vector<Bytes> planes(3);
  for (std::size_t i = 0; i < image.pixels.size(); ++i) planes[i % 3].push_back(image.pixels[i]);
  ExpectDecodesTo(WriteJpeg2000(dir, false, 7, 5, planes), image, ImageFormat::Jpeg2000);
  ExpectDecodesTo(WriteJpeg2000(dir, true, 7, 5, planes), image, ImageFormat::Jpeg2000);
}

TEST(DecodeTest, GreyJpeg2000BecomesRgb) {
  TempDir dir;
  const Bytes grey = {0, 50, 100, 150, 200, 250};
  ExpectDecodesTo(WriteJpeg2000(dir, true, 3, 2, {grey}), GreyToRgb(3, 2, grey),
                  ImageFormat::Jpeg2000);
}

TEST(DecodeTest, JpegKeepsColoursAndOrientation) {
  // Flat 16 x 16 blocks survive JPEG nearly unchanged: red on top, blue below.
  DecodedImage image;
  image.width = 32;
  image.height = 32;
  for (int row = 0; row < 32; ++row) {
    for (int x = 0; x < 32; ++x) {
      const bool top = row < 16;
      image.pixels.insert(image.pixels.end(), {static_cast<std::uint8_t>(top ? 220 : 10), 20,
                                               static_cast<std::uint8_t>(top ? 30 : 200)});
    }
  }
  const DecodeResult result = Decode(EncodeJpeg(image, 95, std::nullopt));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.image.format, ImageFormat::Jpeg);
  for (const auto& [x, row] : {std::pair{2, 2}, {29, 13}, {2, 18}, {29, 29}}) {
    const Rgb got = At(result.image, x, row);
    const Rgb want = At(image, x, row);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], 6) << x << "," << row;
  }
  // Pixel() counts from the bottom: its row 0 is blue.
  EXPECT_GT(result.image.Pixel(0, 0)[2], 180);
}

TEST(DecodeTest, GreyAndCmykJpegsBecomeRgb) {
  Bytes grey(16 * 16);
  for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = i < 128 ? 40 : 210;
  DecodeResult result = Decode(WriteJpegComponents(16, 16, 1, grey));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_NEAR(At(result.image, 3, 2)[0], 40, 3);
  EXPECT_EQ(At(result.image, 3, 2)[0], At(result.image, 3, 2)[2]);
  EXPECT_NEAR(At(result.image, 3, 12)[1], 210, 3);

  // libjpeg marks CMYK with the Adobe segment, whose convention is inverted ink: 255 = none.
  // Full magenta and yellow, no cyan or black: red.
  Bytes cmyk;
  for (int i = 0; i < 16 * 16; ++i) cmyk.insert(cmyk.end(), {255, 0, 0, 255});
  result = Decode(WriteJpegComponents(16, 16, 4, cmyk));
  ASSERT_TRUE(result.ok) << result.error;
  const Rgb red = At(result.image, 5, 5);
  EXPECT_NEAR(red[0], 255, 3);
  EXPECT_NEAR(red[1], 0, 3);
  EXPECT_NEAR(red[2], 0, 3);
}

// ---- conversions to 8-bit RGB ----

TEST(PngConversionTest, GreyPaletteSixteenBitAndInterlacedPictures) {
  const Bytes grey = {0, 60, 120, 180, 240, 255};
  ExpectDecodesTo(WritePng(3, 2, PNG_COLOR_TYPE_GRAY, 8, grey), GreyToRgb(3, 2, grey),
                  ImageFormat::Png);

  // 16-bit samples, big-endian: the high byte survives (0x12ff would round up to 0x13).
  const Bytes wide = {0x12, 0x00, 0xAB, 0x34, 0xFF, 0xFF, 0x00, 0x7F, 0x80, 0x00, 0x40, 0x40};
  DecodedImage wideRgb;
  wideRgb.width = 2;
  wideRgb.height = 1;
  wideRgb.pixels = {0x12, 0xAB, 0xFF, 0x00, 0x80, 0x40};
  ExpectDecodesTo(WritePng(2, 1, PNG_COLOR_TYPE_RGB, 16, wide), wideRgb, ImageFormat::Png);

  const std::vector<png_color> palette = {{10, 20, 30}, {200, 100, 0}, {1, 2, 3}};
  DecodedImage paletted;
  paletted.width = 3;
  paletted.height = 1;
  paletted.pixels = {200, 100, 0, 1, 2, 3, 10, 20, 30};
  ExpectDecodesTo(WritePng(3, 1, PNG_COLOR_TYPE_PALETTE, 8, {1, 2, 0}, false, palette), paletted,
                  ImageFormat::Png);

  const DecodedImage image = Pattern(11, 9);
  ExpectDecodesTo(WritePng(11, 9, PNG_COLOR_TYPE_RGB, 8, Rows(image.pixels), true), image,
                  ImageFormat::Png);
}

TEST(PngConversionTest, TransparencyIsCompositedOnWhite) {
  // RGBA: opaque red, transparent green, half-covered blue, transparent black.
  const Bytes rgba = {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128, 0, 0, 0, 0};
  DecodedImage onWhite;
  onWhite.width = 4;
  onWhite.height = 1;
  onWhite.pixels = {255, 0, 0, 255, 255, 255, 127, 127, 255, 255, 255, 255};
  ExpectDecodesTo(WritePng(4, 1, PNG_COLOR_TYPE_RGBA, 8, rgba), onWhite, ImageFormat::Png);
  // The same through the interlaced path, which converts the whole picture at once.
  ExpectDecodesTo(WritePng(4, 1, PNG_COLOR_TYPE_RGBA, 8, rgba, true), onWhite, ImageFormat::Png);

  // Grey with alpha, and a palette whose second colour is transparent.
  DecodedImage greyAlpha;
  greyAlpha.width = 2;
  greyAlpha.height = 1;
  greyAlpha.pixels = {40, 40, 40, 255, 255, 255};
  ExpectDecodesTo(WritePng(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {40, 255, 40, 0}), greyAlpha,
                  ImageFormat::Png);
  DecodedImage keyed;
  keyed.width = 2;
  keyed.height = 1;
  keyed.pixels = {10, 20, 30, 255, 255, 255};
  ExpectDecodesTo(
      WritePng(2, 1, PNG_COLOR_TYPE_PALETTE, 8, {0, 1}, false, {{10, 20, 30}, {9, 9, 9}}, {255, 0}),
      keyed, ImageFormat::Png);
}

TEST(TiffConversionTest, GreySixteenBitAlphaAndBottomUpPictures) {
  TempDir dir;
  const Bytes grey = {0, 60, 120, 180, 240, 255};
  TiffLayout greyLayout;
  greyLayout.samples = 1;
  greyLayout.photometric = PHOTOMETRIC_MINISBLACK;
  ExpectDecodesTo(WriteTiff(dir, 3, 2, greyLayout, grey), GreyToRgb(3, 2, grey), ImageFormat::Tiff);

  // 16-bit samples in the machine's byte order, as libtiff takes them.
  const std::vector<std::uint16_t> wide = {0x1200, 0xAB34, 0xFFFF, 0x0000, 0x8000, 0x4040};
  Bytes wideBytes(wide.size() * 2);
  std::memcpy(wideBytes.data(), wide.data(), wideBytes.size());
  TiffLayout wideLayout;
  wideLayout.bits = 16;
  DecodedImage wideRgb;
  wideRgb.width = 2;
  wideRgb.height = 1;
  wideRgb.pixels = {0x12, 0xAB, 0xFF, 0x00, 0x80, 0x40};
  ExpectDecodesTo(WriteTiff(dir, 2, 1, wideLayout, wideBytes), wideRgb, ImageFormat::Tiff);

  TiffLayout alphaLayout;
  alphaLayout.samples = 4;
  alphaLayout.extra = EXTRASAMPLE_UNASSALPHA;
  DecodedImage onWhite;
  onWhite.width = 3;
  onWhite.height = 1;
  onWhite.pixels = {255, 0, 0, 255, 255, 255, 127, 127, 255};
  ExpectDecodesTo(WriteTiff(dir, 3, 1, alphaLayout, {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128}),
                  onWhite, ImageFormat::Tiff);

  // Stored bottom row first: the decoder turns it round.
  const DecodedImage image = Pattern(5, 4);
  Bytes stored;
  for (int row = 3; row >= 0; --row) {
    stored.insert(stored.end(), image.pixels.begin() + row * 15,
                  image.pixels.begin() + (row + 1) * 15);
  }
  TiffLayout bottomUp;
  bottomUp.orientation = ORIENTATION_BOTLEFT;
  ExpectDecodesTo(WriteTiff(dir, 5, 4, bottomUp, stored), image, ImageFormat::Tiff);
}

TEST(TiffConversionTest, LargePicturesAreReadInBandsInBothOrientations) {
  // Wide enough that the picture spans several bands of whole strips (7 rows each).
  TempDir dir;
  constexpr int kWidth = 4096;
  constexpr int kHeight = 600;
  DecodedImage image;
  image.width = kWidth;
  image.height = kHeight;
  image.pixels.resize(std::size_t{kWidth} * kHeight * 3);
  for (int row = 0; row < kHeight; ++row) {
    for (int x = 0; x < kWidth; ++x) {
      std::uint8_t* p = image.pixels.data() + (static_cast<std::size_t>(row) * kWidth + x) * 3;
      p[0] = static_cast<std::uint8_t>(row);
      p[1] = static_cast<std::uint8_t>(row >> 8);
      p[2] = static_cast<std::uint8_t>(x);
    }
  }
  TiffLayout layout;
  layout.rowsPerStrip = 7;
  layout.compression = COMPRESSION_ADOBE_DEFLATE;
  ExpectDecodesTo(WriteTiff(dir, kWidth, kHeight, layout, Rows(image.pixels)), image,
                  ImageFormat::Tiff);

  Bytes stored;
  const std::size_t rowBytes = std::size_t{kWidth} * 3;
  for (int row = kHeight - 1; row >= 0; --row) {
    stored.insert(stored.end(), image.pixels.begin() + row * rowBytes,
                  image.pixels.begin() + (row + 1) * rowBytes);
  }
  layout.orientation = ORIENTATION_BOTLEFT;
  ExpectDecodesTo(WriteTiff(dir, kWidth, kHeight, layout, stored), image, ImageFormat::Tiff);
}

TEST(GifConversionTest, FirstFrameOnItsScreenWithTransparencyOnWhite) {
  const std::vector<GifColorType> colors = {{0, 0, 0}, {250, 10, 10}, {10, 250, 10}, {1, 2, 3}};
  // A 2 x 2 frame at (1, 1) of a 4 x 3 screen; index 3 is transparent.
  GifFrame frame{4, 3, 1, 1, 2, 2};
  frame.transparent = 3;
  const DecodeResult result = Decode(WriteGif(frame, colors, {1, 2, 3, 1}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.image.format, ImageFormat::Gif);
  ASSERT_EQ(result.image.width, 4);
  ASSERT_EQ(result.image.height, 3);
  const Rgb white = {255, 255, 255};
  EXPECT_EQ(At(result.image, 0, 0), white);
  EXPECT_EQ(At(result.image, 1, 1), (Rgb{250, 10, 10}));
  EXPECT_EQ(At(result.image, 2, 1), (Rgb{10, 250, 10}));
  EXPECT_EQ(At(result.image, 1, 2), white);  // transparent
  EXPECT_EQ(At(result.image, 2, 2), (Rgb{250, 10, 10}));
  EXPECT_EQ(At(result.image, 3, 2), white);
}

TEST(GifConversionTest, InterlacedRowsLandInPlace) {
  std::vector<GifColorType> colors(16);
  for (int i = 0; i < 16; ++i) {
    colors[i] = {static_cast<GifByteType>(i * 16), static_cast<GifByteType>(255 - i * 16), 7};
  }
  Bytes indices;
  for (int row = 0; row < 11; ++row)
    indices.insert(indices.end(), {static_cast<std::uint8_t>(row), 0});
  GifFrame frame{2, 11, 0, 0, 2, 11};
  frame.interlaced = true;
  const DecodeResult result = Decode(WriteGif(frame, colors, indices));
  ASSERT_TRUE(result.ok) << result.error;
  for (int row = 0; row < 11; ++row) {
    EXPECT_EQ(At(result.image, 0, row), (Rgb{row * 16, 255 - row * 16, 7})) << row;
  }
}

TEST(MagickConversionTest, TgaWithAlphaIsRecognisedByExtensionAndComposited) {
  // 32-bit TGA stored top row first (descriptor bit 5), BGRA.
  Bytes tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 32, 0x28};
  tga.insert(tga.end(), {0, 0, 255, 255, 0, 255, 0, 0,    // red, transparent green
                         255, 0, 0, 128, 0, 0, 0, 255});  // half blue, black
  DecodedImage expected;
  expected.width = 2;
  expected.height = 2;
  expected.pixels = {255, 0, 0, 255, 255, 255, 127, 127, 255, 0, 0, 0};
  const DecodeResult result = Decode(tga, ImageFormat::Unknown, "tga");
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.image.format, ImageFormat::Other);
  EXPECT_EQ(result.image.pixels, expected.pixels);
}

void PutBe(Bytes& b, std::uint32_t value) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

TEST(MagickConversionTest, OtherRasterFormatsLoad) {
  // Each file holds red, green / blue, (10, 20, 30), top row first once decoded.
  const Bytes fourColours = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};

  Bytes sun;
  for (const std::uint32_t v : {0x59A66A95u, 2u, 2u, 24u, 12u, 1u, 0u, 0u}) PutBe(sun, v);
  sun.insert(sun.end(), {0, 0, 255, 0, 255, 0, 255, 0, 0, 30, 20, 10});  // BGR

  Bytes pcx(128, 0);  // 24-bit as three 8-bit planes per row, run-length coded
  pcx[0] = 10;
  pcx[1] = 5;
  pcx[2] = 1;
  pcx[3] = 8;
  pcx[8] = pcx[10] = 1;  // last column and row
  pcx[65] = 3;
  pcx[66] = 2;  // bytes per plane row
  pcx[68] = 1;
  // Values of 0xC0 and above are written as a run of one.
  pcx.insert(pcx.end(), {0xC1, 255, 0, 0, 0xC1, 255, 0, 0,  // R, G, B planes of the top row
                         0, 10, 0, 20, 0xC1, 255, 30});     // and of the bottom row

  Bytes ico = {0, 0, 1, 0, 1, 0, 2, 2, 0, 0, 1, 0, 32, 0};
  PutLe(ico, 40 + 16 + 8, 4);
  PutLe(ico, 22, 4);
  for (const std::uint32_t v : {40u, 2u, 4u}) PutLe(ico, v, 4);  // twice the height: + mask
  PutLe(ico, 1, 2);
  PutLe(ico, 32, 2);
  ico.resize(ico.size() + 24, 0);
  ico.insert(ico.end(), {255, 0, 0, 255, 30, 20, 10, 255, 0, 0, 255, 255, 0, 255, 0, 255});
  ico.resize(ico.size() + 8, 0);  // the transparency mask: all opaque

  Bytes tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0};  // bottom row first
  tga.insert(tga.end(), {255, 0, 0, 30, 20, 10, 0, 0, 255, 0, 255, 0});

  const std::string pgmHeader = "P5\n2 2\n255\n";
  Bytes pgm(pgmHeader.begin(), pgmHeader.end());
  pgm.insert(pgm.end(), {10, 20, 30, 40});

  struct Case {
    std::string name;
    Bytes bytes;
    std::string extension;
    Bytes pixels;
  };
  const Case cases[] = {
      {"sun", sun, "", fourColours},
      {"pcx", pcx, "", fourColours},
      {"ico", ico, "", fourColours},
      {"tga", tga, "tga", fourColours},
      {"pgm", pgm, "", {10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40}},
      // 1 bit a pixel, 1 = white; rows padded to whole bytes.
      {"wbmp", {0, 0, 2, 2, 0x80, 0x40}, "wbmp", {255, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255}},
  };
  for (const Case& c : cases) {
    const DecodeResult result = Decode(c.bytes, ImageFormat::Unknown, c.extension);
    ASSERT_TRUE(result.ok) << c.name << ": " << result.error;
    EXPECT_EQ(result.image.format, ImageFormat::Other) << c.name;
    EXPECT_EQ(result.image.width, 2) << c.name;
    EXPECT_EQ(Rows(result.image.pixels), c.pixels) << c.name;
  }
  // Without its extension a WBMP is not recognised.
  EXPECT_FALSE(Decode({0, 0, 2, 2, 0x80, 0x40}).ok);
}

TEST(MagickConversionTest, TgaIsRecognisedByContentAndIconsOnlyByAFullDirectory) {
  // An uncompressed TGA without identifier or colour map starts with 0, 0, 2, 0, as a cursor
  // does; without its extension it is still a TGA.
  Bytes tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0};  // bottom row first
  tga.insert(tga.end(), {255, 0, 0, 30, 20, 10, 0, 0, 255, 0, 255, 0});
  for (const std::string extension : {"", "dat", "tga"}) {
    const DecodeResult result = Decode(tga, ImageFormat::Unknown, extension);
    ASSERT_TRUE(result.ok) << extension << ": " << result.error;
    EXPECT_EQ(Rows(result.image.pixels), (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30}));
  }
  // A 32-bit TGA stored top row first.
  Bytes topDown = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 32, 0x28, 1, 2, 3, 255};
  EXPECT_TRUE(Decode(topDown).ok);

  // Icon directories whose entry cannot be an image are not icons (nor anything else).
  Bytes icon = {0, 0, 1, 0, 1, 0, 2, 2, 0, 0, 1, 0, 32, 0};
  PutLe(icon, 64, 4);
  const std::vector<std::pair<std::string, Bytes>> notIcons = {
      {"no images", {0, 0, 1, 0, 0, 0}},
      {"image past the end",
       [&] {
         Bytes b = icon;
         PutLe(b, 5000, 4);
         b.resize(200, 0);
         return b;
       }()},
      {"image inside the directory",
       [&] {
         Bytes b = icon;
         PutLe(b, 6, 4);
         b.resize(200, 0);
         return b;
       }()},
      {"directory cut short", {0, 0, 1, 0, 3, 0, 2, 2, 0, 0, 1, 0, 32, 0, 64, 0, 0, 0}},
  };
  for (const auto& [name, bytes] : notIcons) {
    const DecodeResult result = Decode(bytes);
    EXPECT_FALSE(result.ok) << name;
    EXPECT_EQ(result.error, "not a picture in a supported format") << name;
  }
}

TEST(MagickConversionTest, MetafilesAreRendered) {
  // A placeable metafile, 100 x 50 units at 1440 a inch, with one red rectangle.
  Bytes wmf = {0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0, 0, 0, 0, 100, 0, 50, 0, 0xA0, 0x05, 0, 0, 0, 0};
  std::uint16_t checksum = 0;
  for (std::size_t i = 0; i < wmf.size(); i += 2) checksum ^= wmf[i] | wmf[i + 1] << 8;
  PutLe(wmf, checksum, 2);
  const Bytes records = {7, 0, 0, 0, 0xFC, 0x02, 0,  0, 255, 0, 0, 0, 0, 0,  // red brush
                         4, 0, 0, 0, 0x2D, 0x01, 0,  0,                      // select it
                         7, 0, 0, 0, 0x1B, 0x04, 50, 0, 100, 0, 0, 0, 0, 0,  // rectangle
                         3, 0, 0, 0, 0,    0};                               // end
  PutLe(wmf, 1, 2);
  PutLe(wmf, 9, 2);
  PutLe(wmf, 0x300, 2);
  PutLe(wmf, static_cast<std::uint32_t>(18 + records.size()) / 2, 4);
  PutLe(wmf, 1, 2);
  PutLe(wmf, 7, 4);
  PutLe(wmf, 0, 2);
  wmf.insert(wmf.end(), records.begin(), records.end());
  const DecodeResult result = Decode(wmf);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.image.format, ImageFormat::Other);
  EXPECT_GT(result.image.width, 0);
}

// ---- PGX ----

Bytes Pgx(const std::string& header, const Bytes& samples) {
  Bytes b(header.begin(), header.end());
  b.insert(b.end(), samples.begin(), samples.end());
  return b;
}

Bytes Grey3(std::uint8_t a, std::uint8_t b, std::uint8_t c) { return {a, a, a, b, b, b, c, c, c}; }

TEST(PgxTest, SamplesOfEveryDepthSignAndByteOrderBecomeGreyRgb) {
  struct Case {
    std::string name;
    Bytes file;
    Bytes pixels;  // 3 x 1
  };
  const Case cases[] = {
      {"8-bit", Pgx("PG ML + 8 3 1\n", {0, 128, 255}), Grey3(0, 128, 255)},
      {"no sign, extra blanks", Pgx("PG  LM   8 3 1 \r\n", {0, 128, 255}), Grey3(0, 128, 255)},
      {"16-bit big-endian", Pgx("PG ML +16 3 1\n", {0x00, 0xFF, 0x80, 0x00, 0xFF, 0xFF}),
       Grey3(0, 128, 255)},
      {"16-bit little-endian", Pgx("PG LM +16 3 1\n", {0xFF, 0x00, 0x00, 0x80, 0xFF, 0xFF}),
       Grey3(0, 128, 255)},
      // 12 bits, two's complement in two bytes: -2048 is black, 0 mid-grey, 2047 white.
      {"12-bit signed", Pgx("PG ML - 12 3 1\n", {0xF8, 0x00, 0x00, 0x00, 0x07, 0xFF}),
       Grey3(0, 128, 255)},
      {"8-bit signed", Pgx("PG ML -8 3 1\n", {0x80, 0x00, 0x7F}), Grey3(0, 128, 255)},
      // Fewer than 8 bits are scaled up; values above the depth's range are clamped.
      {"1-bit", Pgx("PG ML + 1 3 1\n", {0, 1, 9}), Grey3(0, 255, 255)},
      {"4-bit", Pgx("PG ML + 4 3 1\n", {0, 5, 15}), Grey3(0, 85, 255)},
  };
  for (const Case& c : cases) {
    const DecodeResult result = Decode(c.file);
    ASSERT_TRUE(result.ok) << c.name << ": " << result.error;
    EXPECT_EQ(result.image.format, ImageFormat::Other) << c.name;
    EXPECT_EQ(result.image.width, 3) << c.name;
    EXPECT_EQ(result.image.height, 1) << c.name;
    EXPECT_EQ(Rows(result.image.pixels), c.pixels) << c.name;
  }
  // Rows are stored top row first, and a file named .pgx decodes through the file interface.
  TempDir dir;
  WriteBytes(dir.File("grey.pgx"), Pgx("PG ML + 8 1 2\n", {10, 200}));
  const DecodeResult result = DecodeImageFile(dir.File("grey.pgx"), FormatHintForExtension("pgx"));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(*result.image.Pixel(0, 1), 10);
  EXPECT_EQ(*result.image.Pixel(0, 0), 200);
}

TEST(PgxTest, BadHeadersShortDataAndImplausibleSizesAreRefused) {
  const std::vector<std::pair<std::string, Bytes>> cases = {
      {"depth 0", Pgx("PG ML + 0 3 1\n", {0, 0, 0})},
      {"depth 17", Pgx("PG ML + 17 3 1\n", Bytes(9, 0))},
      {"no height", Pgx("PG ML + 8 3\n", {0, 0, 0})},
      {"a word too many", Pgx("PG ML + 8 3 1 1\n", {0, 0, 0})},
      {"two signs", Pgx("PG ML + -8 3 1\n", {0, 0, 0})},
      {"negative width", Pgx("PG ML + 8 -3 1\n", {0, 0, 0})},
      {"no newline", Pgx("PG ML + 8 3 1", {})},
  };
  for (const auto& [name, bytes] : cases) {
    const DecodeResult result = Decode(bytes);
    EXPECT_FALSE(result.ok) << name;
    EXPECT_NE(result.error.find("PGX"), std::string::npos) << name << ": " << result.error;
  }
  EXPECT_FALSE(Decode(Pgx("PG ML + 8 0 1\n", {})).ok);
  const DecodeResult shortData = Decode(Pgx("PG ML +16 3 2\n", Bytes(11, 0)));
  EXPECT_FALSE(shortData.ok);
  EXPECT_EQ(shortData.error, "the PGX file is truncated");
  const DecodeResult huge = Decode(Pgx("PG ML + 8 15000 15000\n", {}));
  EXPECT_FALSE(huge.ok);
  EXPECT_NE(huge.error.find("cannot hold"), std::string::npos) << huge.error;
}

// ---- the format hint and the fall-back to the content ----

TEST(HintTest, AWrongHintFallsBackToTheContent) {
  TempDir dir;
  const DecodedImage image = Pattern(4, 3);
  const Bytes png = WritePng(4, 3, PNG_COLOR_TYPE_RGB, 8, Rows(image.pixels));
  DecodeResult result = Decode(png, ImageFormat::Jpeg);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.image.format, ImageFormat::Png);

  const Bytes jpeg = EncodeJpeg(image, 90, std::nullopt);
  result = Decode(jpeg, ImageFormat::Bmp);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.image.format, ImageFormat::Jpeg);

  // A BMP named .png, read through the file interface.
  const std::string path = dir.File("picture.png");
  WriteBytes(path, WriteBmp(image));
  result = DecodeImageFile(path, FormatHintForExtension("png"));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.image.format, ImageFormat::Bmp);
  EXPECT_EQ(result.image.pixels, image.pixels);

  // A PNG named .jpg.
  WriteBytes(dir.File("picture.jpg"), png);
  result = DecodeImageFile(dir.File("picture.jpg"), FormatHintForExtension("jpg"));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.image.format, ImageFormat::Png);
}

// ---- bad input: a clear error, never a crash ----

TEST(BadInputTest, EmptyUnknownAndMissingFilesAreRefused) {
  DecodeResult result = Decode({});
  EXPECT_FALSE(result.ok);
  EXPECT_FALSE(result.error.empty());

  const std::string text = "just some text, not a picture at all\n";
  result = Decode(Bytes(text.begin(), text.end()), ImageFormat::Jpeg);
  EXPECT_FALSE(result.ok);
  EXPECT_FALSE(result.error.empty());
  EXPECT_FALSE(result.image.IsValid());

  result = DecodeImageFile("/nonexistent/folder/picture.jpg", ImageFormat::Jpeg);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("cannot open"), std::string::npos) << result.error;

  TempDir dir;
  result = DecodeImageFile(dir.path().string(), ImageFormat::Unknown);
  EXPECT_FALSE(result.ok);
}

// Valid files of every format, big enough that half of one is cut inside its pixel data.
std::vector<std::pair<std::string, Bytes>> SampleFiles(const TempDir& dir) {
  DecodedImage noise;
  noise.width = 48;
  noise.height = 40;
  std::mt19937 random(7);
  for (int i = 0; i < 48 * 40 * 3; ++i) noise.pixels.push_back(static_cast<std::uint8_t>(random()));
  std::vector<Bytes> planes(3);
  for (std::size_t i = 0; i < noise.pixels.size(); ++i) planes[i % 3].push_back(noise.pixels[i]);
  const Bytes grey = RgbToGrey(noise);
  GifFrame frame{48, 40, 0, 0, 48, 40};
  std::vector<GifColorType> colors(256);
  for (int i = 0; i < 256; ++i) colors[i] = {static_cast<GifByteType>(i), 0, 0};
  return {
      {"png", WritePng(48, 40, PNG_COLOR_TYPE_RGB, 8, Rows(noise.pixels))},
      {"jpeg", EncodeJpeg(noise, 90, std::nullopt)},
      {"tiff", WriteTiff(dir, 48, 40, {}, Rows(noise.pixels))},
      {"gif", WriteGif(frame, colors, grey)},
      {"j2k", WriteJpeg2000(dir, false, 48, 40, planes)},
      {"jp2", WriteJpeg2000(dir, true, 48, 40, planes)},
      {"bmp", WriteBmp(noise)},
      {"ppm", WritePpm(noise)},
  };
}

TEST(BadInputTest, TruncatedFilesAreRefused) {
  TempDir dir;
  for (const auto& [name, bytes] : SampleFiles(dir)) {
    ASSERT_TRUE(Decode(bytes).ok) << name;
    for (const double fraction : {0.5, 0.05}) {
      const Bytes cut(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() * fraction));
      const DecodeResult result = Decode(cut, FormatHintForExtension(name));
      EXPECT_FALSE(result.ok) << name << " cut to " << fraction;
      EXPECT_FALSE(result.error.empty()) << name;
      EXPECT_TRUE(result.image.pixels.empty()) << name;
    }
  }
}

TEST(BadInputTest, DamagedFilesNeverCrash) {
  // Random byte changes: any outcome is fine as long as it is an outcome (the sanitizers
  // watch the rest) and a success is a consistent picture.
  TempDir dir;
  std::mt19937 random(1234);
  for (const auto& [name, bytes] : SampleFiles(dir)) {
    for (int round = 0; round < 40; ++round) {
      Bytes damaged = bytes;
      const int changes = 1 + static_cast<int>(random() % 8);
      for (int i = 0; i < changes; ++i) {
        damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
      }
      const DecodeResult result = Decode(damaged, FormatHintForExtension(name));
      if (result.ok) {
        EXPECT_EQ(result.image.pixels.size(), result.image.stride() * result.image.height);
      } else {
        EXPECT_FALSE(result.error.empty()) << name;
      }
    }
  }
}

TEST(BadInputTest, HugeSizesAreRefusedBeforeAllocating) {
  // Headers claiming 100000 x 100000 pixels, with no pixel data behind them. Allocating the
  // claimed 30 GB would fail with "not enough memory"; the size check must come first.
  const DecodedImage tiny = Pattern(2, 2);
  Bytes png = WritePng(2, 2, PNG_COLOR_TYPE_RGB, 8, Rows(tiny.pixels));
  // IHDR width and height follow the signature, the chunk length and "IHDR"; fix the CRC.
  for (const int offset : {16, 20}) {
    const std::uint8_t bigEndian100000[] = {0x00, 0x01, 0x86, 0xA0};
    std::memcpy(png.data() + offset, bigEndian100000, 4);
  }
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17));
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));

  TempDir dir;
  TiffLayout layout;
  Bytes tiff = WriteTiff(dir, 2, 2, layout, Rows(tiny.pixels));
  // Re-write the size tags in place: little-endian file, IFD entries of 12 bytes.
  const std::uint32_t ifd = tiff[4] | tiff[5] << 8 | tiff[6] << 16 | tiff[7] << 24;
  const int entries = tiff[ifd] | tiff[ifd + 1] << 8;
  for (int e = 0; e < entries; ++e) {
    std::uint8_t* entry = tiff.data() + ifd + 2 + 12 * e;
    const int tag = entry[0] | entry[1] << 8;
    if (tag == TIFFTAG_IMAGEWIDTH || tag == TIFFTAG_IMAGELENGTH) {
      entry[2] = 4;  // LONG
      entry[3] = 0;
      const std::uint32_t value = 100000;
      std::memcpy(entry + 8, &value, 4);
    }
  }

  const Bytes bmp = WriteBmp(tiny, 100000, 100000);
  Bytes ppm = {'P', '6', '\n'};
  const std::string header = "100000 100000\n255\n";
  ppm.insert(ppm.end(), header.begin(), header.end());

  for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{
           {"png", png}, {"tiff", tiff}, {"bmp", bmp}, {"ppm", ppm}}) {
    const DecodeResult result = Decode(bytes);
    EXPECT_FALSE(result.ok) << name;
    EXPECT_NE(result.error.find("too large"), std::string::npos) << name << ": " << result.error;
  }
}

TEST(BadInputTest, MoreJpeg2000TilesThanTheFileCanHoldAreRefused) {
  // Tiles of 1 x 1 pixel: 1920 tile headers alone would take more bytes than the file has.
  TempDir dir;
  const Bytes grey(48 * 40, 128);
  for (const bool container : {false, true}) {
    Bytes file = WriteJpeg2000(dir, container, 48, 40, {grey});
    ASSERT_TRUE(Decode(file).ok);
    const std::uint8_t siz[] = {0xFF, 0x4F, 0xFF, 0x51};
    const auto start = std::search(file.begin(), file.end(), std::begin(siz), std::end(siz));
    ASSERT_NE(start, file.end());
    for (const int offset : {24, 28}) {
      std::fill(start + offset, start + offset + 4, 0);
      start[offset + 3] = 1;
    }
    const DecodeResult result = Decode(file);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("tiles"), std::string::npos) << result.error;
  }
}

TEST(BadInputTest, TheCallersPixelLimitApplies) {
  TempDir dir;
  DecodeOptions small;
  small.maxPixels = 100;
  for (const auto& [name, bytes] : SampleFiles(dir)) {
    const DecodeResult result = DecodeImageBytes(bytes, ImageFormat::Unknown, small);
    EXPECT_FALSE(result.ok) << name;
    EXPECT_NE(result.error.find("too large"), std::string::npos) << name << ": " << result.error;
  }
}

// ---- tiny files that claim huge pictures ----

// The JPEG's frame header (SOF0 or SOF2) made to claim width x height.
void ClaimJpegSize(Bytes& jpeg, int width, int height) {
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
      jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<std::uint8_t>(height);
      jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<std::uint8_t>(width);
      return;
    }
  }
  ADD_FAILURE() << "no frame header";
}

// The JPEG of a pictureWidth x 16 picture whose header claims width x height: its data ends
// long before such a picture would, and libjpeg makes up the rest.
Bytes JpegClaiming(int pictureWidth, JpegCoding coding, int width, int height) {
  Bytes jpeg =
      WriteJpegComponents(pictureWidth, 16, 3, Rows(Pattern(pictureWidth, 16).pixels), 75, coding);
  ClaimJpegSize(jpeg, width, height);
  return jpeg;
}

void PutPngChunk(Bytes& png, const char* type, const Bytes& data) {
  PutBe(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  PutBe(png, static_cast<std::uint32_t>(crc32(0, png.data() + start, png.size() - start)));
}

// An interlaced 8-bit RGBA PNG claiming width x height whose image data is 100 zero bytes, a
// fraction of its first row; a private chunk of `padding` bytes comes first.
Bytes InterlacedPngClaiming(std::uint32_t width, std::uint32_t height, std::size_t padding) {
  Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes header;
  PutBe(header, width);
  PutBe(header, height);
  header.insert(header.end(), {8, PNG_COLOR_TYPE_RGBA, 0, 0, PNG_INTERLACE_ADAM7});
  PutPngChunk(png, "IHDR", header);
  if (padding > 0) PutPngChunk(png, "mdRn", Bytes(padding, 'x'));
  const Bytes zeros(100, 0);
  Bytes data(64);
  uLongf length = data.size();
  EXPECT_EQ(compress2(data.data(), &length, zeros.data(), zeros.size(), 9), Z_OK);
  data.resize(length);
  PutPngChunk(png, "IDAT", data);
  PutPngChunk(png, "IEND", {});
  return png;
}

// A GIF whose screen is width x height and whose first frame, at the top left, is frameWidth x
// frameHeight with one black pixel of data; a comment of `padding` bytes comes first.
Bytes GifClaiming(int width, int height, int frameWidth, int frameHeight, bool interlaced,
                  std::size_t padding) {
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
  PutLe(gif, static_cast<std::uint32_t>(width), 2);
  PutLe(gif, static_cast<std::uint32_t>(height), 2);
  gif.insert(gif.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});  // two global colours
  if (padding > 0) {
    gif.insert(gif.end(), {0x21, 0xFE});
    for (std::size_t left = padding; left > 0;) {
      const std::size_t block = std::min<std::size_t>(left, 255);
      gif.push_back(static_cast<std::uint8_t>(block));
      gif.insert(gif.end(), block, 'x');
      left -= block;
    }
    gif.push_back(0);
  }
  gif.insert(gif.end(), {0x2C, 0, 0, 0, 0});
  PutLe(gif, static_cast<std::uint32_t>(frameWidth), 2);
  PutLe(gif, static_cast<std::uint32_t>(frameHeight), 2);
  gif.push_back(interlaced ? 0x40 : 0);
  // Minimum code size 2, then the 3-bit codes clear (4), index 0 and end (5).
  gif.insert(gif.end(), {2, 2, 0x44, 0x01, 0, 0x3B});
  return gif;
}

// The four hostile files: each a few hundred bytes claiming 15000 x 15000 pixels, which took
// from 670 MB to 1.3 GB and up to seconds before they were refused by their length.
std::vector<std::pair<std::string, Bytes>> HostileFiles() {
  return {
      {"baseline jpeg", JpegClaiming(16, JpegCoding::Baseline, 15000, 15000)},
      {"progressive jpeg", JpegClaiming(56, JpegCoding::Progressive, 15000, 15000)},
      {"gif screen", GifClaiming(15000, 15000, 1, 1, false, 0)},
      {"interlaced png", InterlacedPngClaiming(15000, 15000, 0)},
  };
}

// The sanitizers reserve terabytes of address space at start-up, so there the address space
// cannot be limited; the peak resident memory is checked in every build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceCanBeLimited = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSpaceCanBeLimited = false;
#else
constexpr bool kAddressSpaceCanBeLimited = true;
#endif
#else
constexpr bool kAddressSpaceCanBeLimited = true;
#endif

// For the child of a death test: lets the address space grow by 300 MB at most, decodes
// `bytes`, prints the decoder's error and ends with status 0 when the picture was refused, 1
// when it was decoded, 2 when the decode raised the peak resident memory by 100 MB or more.
[[noreturn]] void DecodeWithLittleMemory(const Bytes& bytes) {
  if (kAddressSpaceCanBeLimited) {
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{300} << 20);
    const rlimit space{limit, limit};
    setrlimit(RLIMIT_AS, &space);
  }
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const DecodeResult result = Decode(bytes);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  std::fprintf(stderr, "%s\n", result.error.c_str());
  if (after.ru_maxrss - before.ru_maxrss >= 100 * 1024) std::_Exit(2);
  std::_Exit(result.ok ? 1 : 0);
}

TEST(HostileFileTest, TinyFilesClaimingHugePicturesAreRefusedWithLittleMemory) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const auto& [name, bytes] : HostileFiles()) {
    SCOPED_TRACE(name);
    EXPECT_LT(bytes.size(), 1100u);
    EXPECT_EXIT(DecodeWithLittleMemory(bytes), ::testing::ExitedWithCode(0),
                "bytes cannot hold a picture of 15000 x 15000 pixels");
  }
}

TEST(HostileFileTest, InterlacedPicturesTakeNoMemoryBeforeTheirFirstRowDecodes) {
  // Long enough for 11000 x 11000 pixels to pass the length check, so the decoders get as far
  // as the first row, which the data does not fill. The whole picture (480 MB of RGBA for the
  // PNG, 360 MB for the GIF) must not have been allocated by then.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Bytes png = InterlacedPngClaiming(11000, 11000, 2000);
  EXPECT_EXIT(DecodeWithLittleMemory(png), ::testing::ExitedWithCode(0),
              "corrupt PNG file: Not enough image data");
  const Bytes gif = GifClaiming(11000, 11000, 11000, 11000, true, 2000);
  EXPECT_EXIT(DecodeWithLittleMemory(gif), ::testing::ExitedWithCode(0), "corrupt GIF file");
}

TEST(HostileFileTest, AProgressiveJpegWithoutItsFirstScanIsRefused) {
  // 2000 x 2000 passes the length check, but the first scan would need a bit for each of the
  // 94,000 blocks, and the file holds a few hundred bytes of it. libjpeg would clear 24 MB of
  // coefficients and make up a grey picture.
  const DecodeResult progressive = Decode(JpegClaiming(56, JpegCoding::Progressive, 2000, 2000));
  EXPECT_FALSE(progressive.ok);
  EXPECT_NE(progressive.error.find("first scan holds"), std::string::npos) << progressive.error;
  EXPECT_TRUE(progressive.image.pixels.empty());
  // A baseline file is read row by row as its data arrives: the same claim loads, as a damaged
  // file does, with the missing part grey.
  const DecodeResult baseline = Decode(JpegClaiming(56, JpegCoding::Baseline, 2000, 2000));
  ASSERT_TRUE(baseline.ok) << baseline.error;
  EXPECT_EQ(baseline.image.width, 2000);
}

TEST(HostileFileTest, DamagedButPlausibleJpegsStillLoad) {
  // Half of a photo-like file, ended with the end-of-image marker: both kinds of JPEG show the
  // part that is there.
  DecodedImage noise;
  noise.width = 320;
  noise.height = 240;
  std::mt19937 random(11);
  for (int i = 0; i < 320 * 240 * 3; ++i)
    noise.pixels.push_back(static_cast<std::uint8_t>(random()));
  for (const JpegCoding coding : {JpegCoding::Baseline, JpegCoding::Progressive}) {
    Bytes jpeg = WriteJpegComponents(320, 240, 3, Rows(noise.pixels), 90, coding);
    jpeg.resize(jpeg.size() / 2);
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    const DecodeResult result = Decode(jpeg);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.image.width, 320);
    EXPECT_EQ(result.image.height, 240);
  }
}

TEST(HostileFileTest, HighlyCompressibleRealPicturesStillLoad) {
  // Flat 4000 x 3000 pictures in the formats that pack them densest, and the smallest files.
  DecodedImage flat;
  flat.width = 4000;
  flat.height = 3000;
  for (int i = 0; i < 4000 * 3000; ++i) flat.pixels.insert(flat.pixels.end(), {90, 140, 200});
  const Bytes flatRows = Rows(flat.pixels);
  TempDir dir;
  TiffLayout fax;  // a blank A4 page at 300 dpi, one bit a pixel
  fax.samples = 1;
  fax.bits = 1;
  fax.photometric = PHOTOMETRIC_MINISWHITE;
  fax.compression = COMPRESSION_CCITTFAX4;
  fax.rowsPerStrip = 3508;
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"baseline jpeg", WriteJpegComponents(4000, 3000, 3, flatRows, 75)},
      {"progressive jpeg",
       WriteJpegComponents(4000, 3000, 3, flatRows, 75, JpegCoding::Progressive)},
      {"arithmetic jpeg", WriteJpegComponents(4000, 3000, 3, flatRows, 75, JpegCoding::Arithmetic)},
      {"png", WritePng(4000, 3000, PNG_COLOR_TYPE_RGB, 8, flatRows)},
      {"1-bit png", WritePng(4000, 3000, PNG_COLOR_TYPE_PALETTE, 1, Bytes(500 * 3000, 0), false,
                             {{90, 140, 200}, {0, 0, 0}})},
      {"gif", WriteGif({4000, 3000, 0, 0, 4000, 3000}, {{90, 140, 200}, {0, 0, 0}},
                       Bytes(4000 * 3000, 0))},
      {"g4 tiff", WriteTiff(dir, 2480, 3508, fax, Bytes(310 * 3508, 0))},
      {"tiny gif", GifClaiming(1, 1, 1, 1, false, 0)},
      {"tiny png", WritePng(1, 1, PNG_COLOR_TYPE_GRAY, 1, {0})},
      {"tiny jpeg", WriteJpegComponents(1, 1, 1, {7})},
  };
  for (const auto& [name, bytes] : files) {
    const DecodeResult result = Decode(bytes);
    EXPECT_TRUE(result.ok) << name << " of " << bytes.size() << " bytes: " << result.error;
  }
}

// ---- several decodes at once ----

TEST(ThreadTest, ConcurrentDecodesGiveTheSamePictures) {
  TempDir dir;
  const auto samples = SampleFiles(dir);
  std::vector<DecodedImage> expected;
  for (const auto& [name, bytes] : samples) expected.push_back(Decode(bytes).image);

  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        for (std::size_t i = 0; i < samples.size(); ++i) {
          const DecodeResult result = Decode(samples[(i + t) % samples.size()].second);
          if (!result.ok || result.image.pixels != expected[(i + t) % samples.size()].pixels) {
            ++failures[t];
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace modrin::images
