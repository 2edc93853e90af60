#include "cli/cli.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "images/camera_database.h"
#include "images/jpeg_writer.h"
#include "temp_dir.h"

namespace modrin::cli {
namespace {

using testing::ReadFileText;
using testing::TempDir;
using testing::WriteFileText;

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

CliRun RunCli(const std::vector<std::string>& args, const std::string& exeDir = "/nonexistent") {
  std::ostringstream out, err;
  int status = Main(args, exeDir, out, err);
  return {status, out.str(), err.str()};
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The per-user camera database goes to a folder of this test.
    setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
    const auto image = images::DecodedImage::Filled(64, 48, 200);
    images::ExifCamera exif;
    exif.model = "Test Cam";
    exif.focalLengthMm = 24;
    exif.focalPlaneResolutionUnit = 3;  // centimetres
    exif.focalPlaneXResolution = 64 / 2.4;
    exif.focalPlaneYResolution = 48 / 1.8;
    ASSERT_TRUE(images::WriteJpegFile(dir.File("a.jpg"), image, 90, exif));
    project = dir.File("p.mpj");
    ASSERT_TRUE(WriteFileText(project,
                              "Modrin file version 3.00\n"
                              "Image: \"" +
                                  dir.File("a.jpg") +
                                  "\"\n"
                                  "\tCalibrated: Y\n"
                                  "Image: \"" +
                                  dir.File("missing.jpg") +
                                  "\"\n"
                                  "Positions:\n"
                                  "\t1: U R(1.000,2.000,3.000) 0(10,20) 1(11,21)\n"
                                  "\t2: - 0(30,40)\n"
                                  "Edges:\n"
                                  "\t1: (1,2)\n"
                                  "Object: \"Box\"\n"
                                  "\tCurrent: Y\n"
                                  "\tVertices: 1 2\n"));
  }

  TempDir dir;
  std::string project;
};

TEST_F(CliTest, InfoListsPhotosAndCounts) {
  CliRun run = RunCli({"info", project});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Photo 0: " + dir.File("a.jpg") +
                         ", 64 x 48 pixels, camera \"Test Cam\", focal 24.00 mm, calibrated\n"
                         "Photo 1: " +
                         dir.File("missing.jpg") +
                         ", not loaded, camera unknown, focal 0.00 mm, not calibrated\n"
                         "Positions: 2 (1 real, 0 computed)\n"
                         "Edges: 1\n"
                         "Objects: 1\n");
  // Opening found a new camera model; it joins the user's camera database.
  images::CameraDatabase saved;
  ASSERT_TRUE(saved.Load(dir.File("data/Modrin/Cameras.txt")));
  double width = 0, height = 0;
  ASSERT_TRUE(saved.Get("Test Cam", width, height));
  EXPECT_NEAR(width, 0.024, 1e-6);
  EXPECT_NEAR(height, 0.018, 1e-6);
}

TEST_F(CliTest, CamerasOptionIsReadAndNeverWritten) {
  const std::string cameras = dir.File("cams.txt");
  const std::string text = "\"Test Cam\"\n\tCell Height: 0.001000\n\tCell Width : 0.002000\n\n";
  ASSERT_TRUE(WriteFileText(cameras, text));
  CliRun run = RunCli({"--cameras", cameras, "info", project});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileText(cameras), text);
  EXPECT_FALSE(std::filesystem::exists(dir.File("data/Modrin/Cameras.txt")));

  CliRun missing = RunCli({"--cameras", dir.File("none.txt"), "info", project});
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.err.find("none.txt"), std::string::npos);
}

TEST_F(CliTest, ResaveWritesTheCurrentFormat) {
  // An older two-photo file comes out in the current grammar.
  const std::string old = dir.File("old.mpj");
  ASSERT_TRUE(
      WriteFileText(old, "Image left:  \"" + dir.File("a.jpg") + "\"\nImage right: \"b.jpg\"\n"));
  const std::string out = dir.File("new.mpj");
  CliRun run = RunCli({"resave", old, out});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string written = ReadFileText(out);
  EXPECT_TRUE(written.starts_with("Modrin file version 3.00\nImage: \"" + dir.File("a.jpg") +
                                  "\"\n\tCalibrated: N\n"))
      << written;
  // The EXIF focal length of the loaded photo is in the written file.
  EXPECT_NE(written.find("\tFocal: 0.024000\n"), std::string::npos) << written;
}

TEST_F(CliTest, ErrorsAreReportedWithANonZeroStatus) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"info", dir.File("none.mpj")}, "modrin-cli: cannot open \"" + dir.File("none.mpj")},
      {{"info", dir.path().string()}, "it is a folder"},
      {{"info"}, "info takes one project file"},
      {{"frobnicate", project}, "unknown command \"frobnicate\""},
      {{"--bogus", "info", project}, "unknown option \"--bogus\""},
      {{"--cameras"}, "--cameras needs a file name"},
      {{"resave", project, dir.File("no/such/folder/out.mpj")}, "cannot save"},
  };
  for (const Case& c : cases) {
    CliRun run = RunCli(c.args);
    EXPECT_NE(run.status, 0) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

TEST(Cli, HelpAndVersion) {
  CliRun help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: modrin-cli"), std::string::npos);
  CliRun version = RunCli({"info", "x", "--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "modrin-cli 3.0\n");
  CliRun nothing = RunCli({});
  EXPECT_NE(nothing.status, 0);
  EXPECT_NE(nothing.err.find("Usage"), std::string::npos);
}

}  // namespace
}  // namespace modrin::cli
