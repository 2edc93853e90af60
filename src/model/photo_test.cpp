#include "model/photo.h"

#include <gtest/gtest.h>

#include "images/camera_database.h"
#include "images/jpeg_writer.h"
#include "temp_dir.h"

namespace modrin::model {
namespace {

using testing::TempDir;

images::DecodedImage Picture(int width, int height) {
  return images::DecodedImage::Filled(width, height, 90);
}

TEST(PhotoCoordinates, NormalizedAndPixelConvertBothWays) {
  Photo photo;
  photo.levels.push_back(std::make_unique<images::DecodedImage>(Picture(2000, 1500)));
  EXPECT_EQ(PixelToNormalized(photo, 1000, 750), (engine::Vec2{0, 0}));
  EXPECT_EQ(PixelToNormalized(photo, 0, 0), (engine::Vec2{-0.5, -0.5}));
  EXPECT_EQ(PixelToNormalized(photo, 2000, 1500), (engine::Vec2{0.5, 0.5}));
  int x = -1, y = -1;
  NormalizedToPixel(photo, 0, 0, x, y);
  EXPECT_EQ(x, 1000);
  EXPECT_EQ(y, 750);
  NormalizedToPixel(photo, -0.5, -0.5, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  // Truncated toward zero, and saturated far outside the picture instead of overflowing.
  NormalizedToPixel(photo, -0.5004, 0.4999, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 1499);
  NormalizedToPixel(photo, 1e300, -1e300, x, y);
  EXPECT_EQ(x, std::numeric_limits<int>::max());
  EXPECT_EQ(y, std::numeric_limits<int>::min());
}

TEST(PhotoExtension, TakesTheTextAfterTheLastDotLowerCased) {
  EXPECT_EQ(LowerExtension("/photos/IMG_1.JPG"), "jpg");
  EXPECT_EQ(LowerExtension("C:\\data.v2\\picture"), "v2\\picture");
  EXPECT_EQ(LowerExtension("/photos/noextension"), "");
  EXPECT_EQ(LowerExtension("trailing."), "");
}

class PhotoLoadTest : public ::testing::Test {
 protected:
  std::string WriteJpeg(const std::string& name, const std::optional<images::ExifCamera>& exif) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(images::WriteJpegFile(path, Picture(60, 40), 90, exif));
    return path;
  }

  static images::ExifCamera Exif(const std::string& model, double focalMm) {
    images::ExifCamera exif;
    exif.model = model;
    exif.focalLengthMm = focalMm;
    exif.focalPlaneResolutionUnit = 2;
    exif.focalPlaneXResolution = 60 / (6.0 / 25.4);  // a 6 mm wide sensor
    exif.focalPlaneYResolution = 40 / (4.0 / 25.4);
    return exif;
  }

  TempDir dir;
  images::CameraDatabase database;
};

TEST_F(PhotoLoadTest, ExifCameraSetsFocalAndJoinsTheDatabaseWithoutReplacing) {
  Photo first;
  first.SetPath(WriteJpeg("first.JPG", Exif("Cam", 7.5)));
  first.camera.focal = 0.1;
  ASSERT_TRUE(LoadImage(first, database));
  EXPECT_EQ(first.image().width, 60);
  EXPECT_DOUBLE_EQ(first.camera.focal, 0.0075);
  ASSERT_NE(first.camera.cameraEntry, nullptr);
  EXPECT_NEAR(first.camera.cameraEntry->cellWidth, 0.006, 1e-9);
  EXPECT_NEAR(first.camera.cameraEntry->cellHeight, 0.004, 1e-9);

  // An entry the user already has keeps its values, even when they are zero.
  database.Insert("Other", 0, 0, true);
  Photo second;
  second.SetPath(WriteJpeg("second.jpeg", Exif("Other", 12)));
  ASSERT_TRUE(LoadImage(second, database));
  EXPECT_EQ(second.camera.cameraEntry, database.Find("Other"));
  EXPECT_EQ(second.camera.cameraEntry->cellWidth, 0);
  EXPECT_EQ(database.size(), 2u);
}

TEST_F(PhotoLoadTest, WithoutExifModelTheCameraIsLeftAlone) {
  Photo plain;
  plain.SetPath(WriteJpeg("plain.jpg", std::nullopt));
  plain.camera.focal = 0.05;
  ASSERT_TRUE(LoadImage(plain, database));
  EXPECT_DOUBLE_EQ(plain.camera.focal, 0.05);
  EXPECT_EQ(plain.camera.cameraEntry, nullptr);

  Photo unnamed;
  unnamed.SetPath(WriteJpeg("unnamed.jpg", Exif("", 30)));
  ASSERT_TRUE(LoadImage(unnamed, database));
  EXPECT_EQ(unnamed.camera.focal, 0);
  EXPECT_EQ(database.size(), 0u);
}

TEST_F(PhotoLoadTest, QuotesInTheModelBecomeApostrophesSoTheDatabaseFileStaysReadable) {
  Photo photo;
  photo.SetPath(WriteJpeg("quoted.jpg", Exif("Cam \"Q\" 1 ", 7.5)));
  ASSERT_TRUE(LoadImage(photo, database));
  ASSERT_NE(photo.camera.cameraEntry, nullptr);
  // The rest of the text, the trailing blank too, is kept.
  EXPECT_EQ(photo.camera.cameraEntry->name, "Cam 'Q' 1 ");
  EXPECT_EQ(database.Find("Cam \"Q\" 1 "), nullptr);
  std::string model;
  double focal = 0, width = 0, height = 0;
  ASSERT_TRUE(ReadExifCamera(photo, model, focal, width, height));
  EXPECT_EQ(model, "Cam 'Q' 1 ");

  database.Insert("Zeta", 0.001, 0.001, false);  // after the model in the file
  images::CameraDatabase reloaded;
  EXPECT_TRUE(reloaded.LoadFromText(database.ToText()));
  EXPECT_EQ(reloaded.size(), 2u);
}

TEST_F(PhotoLoadTest, FailedDecodeLeavesNoImage) {
  Photo photo;
  photo.SetPath(WriteJpeg("good.jpg", std::nullopt));
  ASSERT_TRUE(LoadImage(photo, database));

  // A path without an extension is not even tried: the old picture stays.
  EXPECT_FALSE(DecodeImageFile(photo, dir.File("noextension")));
  EXPECT_TRUE(photo.HasImage());

  testing::WriteFileText(dir.File("bad.jpg"), "\xff\xd8\xff garbage");
  photo.SetPath(dir.File("bad.jpg"));
  EXPECT_FALSE(LoadImage(photo, database));
  EXPECT_FALSE(photo.HasImage());
  EXPECT_FALSE(photo.loadError.empty());
  EXPECT_FALSE(photo.LoadFailedForMemory());  // the file's fault

  // Memory that ran out is told apart, and a good decode forgets the failure.
  LoadedImage starved;
  starved.error = "not enough memory to decode the picture";
  EXPECT_FALSE(ApplyLoadedImage(photo, std::move(starved), database));
  EXPECT_TRUE(photo.LoadFailedForMemory());
  photo.SetPath(dir.File("good.jpg"));
  ASSERT_TRUE(LoadImage(photo, database));
  EXPECT_TRUE(photo.loadError.empty());
  photo.SetPath(dir.File("bad.jpg"));
  EXPECT_FALSE(LoadImage(photo, database));

  std::string model;
  double focal = 0, width = 0, height = 0;
  EXPECT_FALSE(ReadExifCamera(photo, model, focal, width, height));
}

}  // namespace
}  // namespace modrin::model
