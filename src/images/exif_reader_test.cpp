#include "images/exif_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "images/image_codec.h"
#include "images/jpeg_writer.h"
#include "temp_dir.h"

namespace modrin::images {
namespace {

DecodedImage Grey(int width, int height) { return DecodedImage::Filled(width, height, 128); }

ExifCamera SampleCamera() {
  ExifCamera camera;
  camera.model = "PowerShot A70";
  camera.focalLengthMm = 5.4;
  camera.focalPlaneXResolution = 8114.285714;
  camera.focalPlaneYResolution = 8114.285;
  camera.focalPlaneResolutionUnit = 2;
  return camera;
}

TEST(ExifRoundTripTest, WrittenFactsAreReadBack) {
  const std::vector<std::uint8_t> jpeg = EncodeJpeg(Grey(32, 24), 90, SampleCamera(), "Canon");
  ASSERT_FALSE(jpeg.empty());
  // The EXIF segment (APP1) directly follows the start-of-image marker.
  ASSERT_GT(jpeg.size(), 12u);
  EXPECT_EQ(jpeg[2], 0xFF);
  EXPECT_EQ(jpeg[3], 0xE1);
  EXPECT_EQ(std::string(jpeg.begin() + 6, jpeg.begin() + 12), std::string("Exif\0\0", 6));

  const std::optional<ExifCamera> read = ParseExif(jpeg);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->model, "PowerShot A70");
  EXPECT_NEAR(read->focalLengthMm, 5.4, 1e-9);
  EXPECT_NEAR(read->focalPlaneXResolution, 8114.285714, 1e-6);
  EXPECT_NEAR(read->focalPlaneYResolution, 8114.285, 1e-6);
  EXPECT_EQ(read->focalPlaneResolutionUnit, 2);

  // Editors often put a JFIF segment before the EXIF one.
  std::vector<std::uint8_t> withJfif = jpeg;
  const std::vector<std::uint8_t> jfif = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0,
                                          1,    1,    0, 0,  1,   0,   1,   0,   0};
  withJfif.insert(withJfif.begin() + 2, jfif.begin(), jfif.end());
  ASSERT_TRUE(ParseExif(withJfif).has_value());
  EXPECT_EQ(ParseExif(withJfif)->model, "PowerShot A70");

  // The picture itself still decodes, as JPEG.
  const DecodeResult decoded = DecodeImageBytes(jpeg, ImageFormat::Jpeg);
  ASSERT_TRUE(decoded.ok) << decoded.error;
  EXPECT_EQ(decoded.image.format, ImageFormat::Jpeg);
  EXPECT_EQ(decoded.image.width, 32);
  EXPECT_EQ(decoded.image.height, 24);
}

TEST(ExifRoundTripTest, ThroughAFileAndWithAMissingUnit) {
  modrin::testing::TempDir dir;
  ExifCamera camera = SampleCamera();
  camera.focalPlaneResolutionUnit = 0;  // not written
  const std::string path = dir.File("photo.jpg");
  ASSERT_TRUE(WriteJpegFile(path, Grey(16, 16), 80, camera));
  const std::optional<ExifCamera> read = ReadExifFile(path);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->model, "PowerShot A70");
  EXPECT_EQ(read->focalPlaneResolutionUnit, 0);
  EXPECT_FALSE(ReadExifFile(dir.File("missing.jpg")).has_value());
}

TEST(ExifRoundTripTest, LongModelsAreCutTo39Characters) {
  ExifCamera camera = SampleCamera();
  camera.model = std::string(45, 'M') + "  ";
  const std::optional<ExifCamera> read = ParseExif(EncodeJpeg(Grey(8, 8), 80, camera));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->model, std::string(39, 'M'));

  // Trailing blanks within the limit are part of the text.
  camera.model = "E-10  ";
  EXPECT_EQ(ParseExif(EncodeJpeg(Grey(8, 8), 80, camera))->model, "E-10  ");
}

TEST(ExifParseTest, NoExifGivesNothing) {
  EXPECT_FALSE(ParseExif(EncodeJpeg(Grey(8, 8), 80, std::nullopt)).has_value());
  const std::string png = "\x89PNG\r\n\x1a\n not really";
  EXPECT_FALSE(ParseExif(std::span(reinterpret_cast<const std::uint8_t*>(png.data()), png.size()))
                   .has_value());
  EXPECT_FALSE(ParseExif({}).has_value());

  // A cut-off EXIF segment: no crash, and whatever comes back is plausible.
  std::vector<std::uint8_t> jpeg = EncodeJpeg(Grey(8, 8), 80, SampleCamera());
  for (std::size_t size = 0; size < 200 && size < jpeg.size(); size += 7) {
    const auto read = ParseExif(std::span(jpeg.data(), size));
    if (read) {
      EXPECT_LE(read->model.size(), 39u);
    }
  }
}

// A marker segment: 0xFF, the marker, the big-endian length (counting itself) and `payload`.
std::vector<std::uint8_t> Segment(std::uint8_t marker, const std::string& payload) {
  const std::size_t length = payload.size() + 2;
  std::vector<std::uint8_t> segment(length + 2);
  segment[0] = 0xFF;
  segment[1] = marker;
  segment[2] = static_cast<std::uint8_t>(length >> 8);
  segment[3] = static_cast<std::uint8_t>(length);
  std::copy(payload.begin(), payload.end(), segment.begin() + 4);
  return segment;
}

// The JPEG with `before` inserted right after its start-of-image marker.
std::vector<std::uint8_t> WithAfterStart(std::vector<std::uint8_t> jpeg,
                                         const std::vector<std::uint8_t>& before) {
  jpeg.insert(jpeg.begin() + 2, before.begin(), before.end());
  return jpeg;
}

TEST(ExifSegmentTest, IsFoundBehindCommentsAndOtherSegments) {
  const std::vector<std::uint8_t> jpeg = EncodeJpeg(Grey(32, 24), 90, SampleCamera());
  // A comment first, as scanners and some editors write it.
  const std::vector<std::uint8_t> commented =
      WithAfterStart(jpeg, Segment(0xFE, "Made with a flatbed scanner"));
  std::optional<ExifCamera> read = ParseExif(commented);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->model, "PowerShot A70");
  EXPECT_NEAR(read->focalLengthMm, 5.4, 1e-9);

  // XMP in an APP1 of its own, fill bytes, an empty comment and a table before it.
  std::vector<std::uint8_t> crowded = Segment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>");
  crowded.insert(crowded.end(), {0xFF, 0xFF});
  for (const auto& segment : {Segment(0xFE, ""), Segment(0xDB, std::string(65, '\1'))}) {
    crowded.insert(crowded.end(), segment.begin(), segment.end());
  }
  read = ParseExif(WithAfterStart(jpeg, crowded));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->model, "PowerShot A70");

  // The picture still decodes with the comment in it.
  EXPECT_TRUE(DecodeImageBytes(commented, ImageFormat::Jpeg).ok);
}

TEST(ExifSegmentTest, TheWalkEndsAtTheScanAndAtMalformedSegments) {
  const std::vector<std::uint8_t> jpeg = EncodeJpeg(Grey(16, 16), 90, SampleCamera());
  ASSERT_TRUE(ParseExif(jpeg).has_value());
  const std::vector<std::vector<std::uint8_t>> before = {
      {0xFF, 0xFE, 0x00, 0x00},              // a length below 2
      {0xFF, 0xFE, 0x00, 0x01},              // a length below 2
      {0xFF, 0xFE, 0xFF, 0xFF},              // a length past the end of the file
      {0x12, 0x34},                          // no marker where one must be
      Segment(0xDA, std::string(10, '\0')),  // a scan: what follows is picture data
      {0xFF, 0xD9},                          // the end of the image
  };
  for (const auto& bad : before) {
    EXPECT_FALSE(ParseExif(WithAfterStart(jpeg, bad)).has_value())
        << std::hex << int(bad[0]) << " " << int(bad[1]);
  }
  // A segment cut off at the end of the file, and a file of nothing but fill bytes.
  EXPECT_FALSE(ParseExif(std::span(jpeg.data(), 5)).has_value());
  std::vector<std::uint8_t> fill(100000, 0xFF);
  fill[1] = 0xD8;
  EXPECT_FALSE(ParseExif(fill).has_value());

  // Many tiny segments before it are walked one after the other.
  std::vector<std::uint8_t> comments;
  for (int i = 0; i < 50000; ++i) comments.insert(comments.end(), {0xFF, 0xFE, 0x00, 0x02});
  const std::optional<ExifCamera> read = ParseExif(WithAfterStart(jpeg, comments));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->model, "PowerShot A70");
}

struct UnitCase {
  int unit;
  double x;
  double y;
  double cellWidth;
  double cellHeight;
};

TEST(ToMetresTest, AppliesTheResolutionUnitRules) {
  // A 2000 x 1500 picture. Resolutions of 1000 per unit give a sensor 2 x 1.5 units.
  const double inch = 0.0254;
  const UnitCase cases[] = {
      {1, 1000, 1000, 2 * inch, 1.5 * inch},  // "none": taken as inches
      {2, 1000, 1000, 2 * inch, 1.5 * inch},  // inches
      {3, 1000, 1000, 2 * 0.3937007874 * inch, 1.5 * 0.3937007874 * inch},          // centimetres
      {4, 1000, 1000, 2 * 0.03937007874 * inch, 1.5 * 0.03937007874 * inch},        // millimetres
      {5, 1000, 1000, 2 * 0.00003937007874 * inch, 1.5 * 0.00003937007874 * inch},  // microns
      {0, 1000, 1000, 0, 0},                                                        // missing unit
      {6, 1000, 1000, 0, 0},                                                        // unknown unit
      {2, 1000, 500, 2 * inch, 3 * inch},                                           // Y on its own
      {2, 1000, 0, 2 * inch, 0},  // zero Y: no infinity
      // Below one: W * (X / t) * 0.001.
      {2, 0.5, 0.25, 2000 * (0.5 / inch) * 0.001, 1500 * (0.25 / inch) * 0.001},
      {2, 0, 0, 0, 0},
  };
  ExifCamera exif;
  exif.model = "Model";
  exif.focalLengthMm = 7.1;
  for (const UnitCase& c : cases) {
    exif.focalPlaneResolutionUnit = c.unit;
    exif.focalPlaneXResolution = c.x;
    exif.focalPlaneYResolution = c.y;
    const CameraInMetres metres = ToMetres(exif, 2000, 1500);
    EXPECT_EQ(metres.model, "Model");
    EXPECT_DOUBLE_EQ(metres.focal, 0.0071);
    EXPECT_NEAR(metres.cellWidth, c.cellWidth, 1e-12) << "unit " << c.unit << " x " << c.x;
    EXPECT_NEAR(metres.cellHeight, c.cellHeight, 1e-12) << "unit " << c.unit << " y " << c.y;
    EXPECT_TRUE(std::isfinite(metres.cellWidth) && std::isfinite(metres.cellHeight));
  }
}

// The EXIF block goes and the picture stays; anything that is not a JPEG up to its scan is
// refused.
TEST(StripJpegMetadataTest, DropsTheExifBlockOnly) {
  const std::vector<std::uint8_t> jpeg = EncodeJpeg(Grey(16, 8), 90, SampleCamera());
  std::string stripped;
  ASSERT_TRUE(StripJpegMetadata(jpeg, stripped));
  const std::vector<std::uint8_t> bytes(stripped.begin(), stripped.end());
  EXPECT_FALSE(ParseExif(bytes).has_value());
  EXPECT_LT(bytes.size(), jpeg.size());
  const DecodeResult decoded = DecodeImageBytes(bytes, ImageFormat::Jpeg);
  ASSERT_TRUE(decoded.ok) << decoded.error;
  EXPECT_EQ(decoded.image.width, 16);
  EXPECT_EQ(decoded.image.pixels, DecodeImageBytes(jpeg, ImageFormat::Jpeg).image.pixels);

  std::vector<std::uint8_t> cut(jpeg.begin(), jpeg.begin() + 40);  // ends inside the EXIF block
  const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  for (const auto& bad : {cut, png, std::vector<std::uint8_t>{}}) {
    std::string out = "kept";
    EXPECT_FALSE(StripJpegMetadata(bad, out));
    EXPECT_EQ(out, "kept");
  }
}

}  // namespace
}  // namespace modrin::images
