// Runs `modrin-cli calibrate` on a generated project of four photos taken by known cameras: the
// saved poses are those cameras, and with --no-polish the saved file is exactly what the
// engine's own run writes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "command_run.h"
#include "engine/geometry/camera.h"
#include "engine/reconstruction.h"
#include "images/decoded_image.h"
#include "images/exif_reader.h"
#include "images/jpeg_writer.h"
#include "model/project.h"
#include "model/project_document.h"
#include "model/project_file.h"
#include "synthetic_scene.h"
#include "temp_dir.h"

namespace modrin {
namespace {

using engine::Vec3;
using testing::kPhotoHeight;
using testing::kPhotoWidth;

constexpr double kFocal = 0.035;  // metres
const Vec3 kSceneCentre{5, 4, 2.5};

// The corners of a 10 x 8 x 5 box and four seeded points inside it (coordinates with three
// decimals, as the project file keeps them), seen by four cameras around it.
struct Scene {
  std::vector<Vec3> points;
  std::vector<engine::CameraRecord> cameras;
};

Scene MakeScene() {
  Scene scene;
  for (const double x : {0.0, 10.0}) {
    for (const double y : {0.0, 8.0}) {
      for (const double z : {0.0, 5.0}) scene.points.push_back({x, y, z});
    }
  }
  std::mt19937 random(20240611);
  const auto uniform = [&](int thousandths) {
    return static_cast<int>(random() % static_cast<unsigned>(thousandths + 1)) / 1000.0;
  };
  for (int i = 0; i < 4; ++i) {
    scene.points.push_back({uniform(10000), uniform(8000), uniform(5000)});
  }
  for (const Vec3& centre :
       {Vec3{-14, -12, 9}, Vec3{22, -10, 7}, Vec3{18, 24, 11}, Vec3{-12, 20, 6}}) {
    const double roll = uniform(200) - 0.1;
    scene.cameras.push_back(
        testing::MakeCamera(kFocal, centre, testing::LookAt(centre, kSceneCentre, roll)));
  }
  return scene;
}

std::string PhotoName(std::size_t index) { return "photo" + std::to_string(index + 1) + ".jpg"; }

// Writes grey photos whose EXIF data gives the full-frame sensor and the focal length, and the
// project: every point marked in every photo at its projection rounded to pixels, the corners
// with real coordinates, no photo calibrated.
void WriteProject(const Scene& scene, const testing::TempDir& dir, const std::string& path) {
  images::ExifCamera exif;
  exif.model = "Modrin Test Camera";
  exif.focalLengthMm = kFocal * 1000;
  exif.focalPlaneResolutionUnit = 4;  // millimetres
  exif.focalPlaneXResolution = kPhotoWidth / (testing::kFullFrame.cellWidth * 1000);
  exif.focalPlaneYResolution = kPhotoHeight / (testing::kFullFrame.cellHeight * 1000);
  const auto picture = images::DecodedImage::Filled(kPhotoWidth, kPhotoHeight, 128);

  model::Project project;
  for (std::size_t c = 0; c < scene.cameras.size(); ++c) {
    ASSERT_TRUE(images::WriteJpegFile(dir.File(PhotoName(c)), picture, 80, exif));
    project.AddPhoto().SetPath(dir.File(PhotoName(c)));
  }
  for (std::size_t i = 0; i < scene.points.size(); ++i) {
    std::int32_t id = 0;
    ASSERT_TRUE(project.graph.NewPosition(id));
    for (std::size_t c = 0; c < scene.cameras.size(); ++c) {
      const auto projection = engine::WorldToImage(scene.cameras[c], scene.points[i]);
      const double x = (projection.image.x + 0.5) * kPhotoWidth;
      const double y = (projection.image.y + 0.5) * kPhotoHeight;  // from the bottom row
      ASSERT_TRUE(projection.inFront && x >= 0 && x < kPhotoWidth && y >= 0 && y < kPhotoHeight)
          << "point " << i << " is outside photo " << c;
      project.graph.SetImagePoint(
          id, static_cast<std::int32_t>(c),
          {static_cast<std::int32_t>(std::lround(x)), static_cast<std::int32_t>(std::lround(y))});
    }
    if (i < 8) {
      const Vec3& p = scene.points[i];
      project.graph.SetRealCoords(id, {p.x, p.y, p.z});
    }
  }
  ASSERT_TRUE(testing::WriteFileText(path, model::WriteProjectText(project)));
}

using testing::CommandRun;

// A camera database of the run's own (empty: the photos' EXIF data gives the sensor), never
// written, and a data folder inside `dir`; returns the database's path.
std::string OwnCameraDatabase(const testing::TempDir& dir) {
  const std::string cameras = dir.File("Cameras.txt");
  EXPECT_TRUE(testing::WriteFileText(cameras, ""));
  setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
  return cameras;
}

std::string Quoted(const std::string& text) { return testing::ShellQuoted(text); }

// Runs modrin-cli under a German locale, which must not change a printed or saved number.
CommandRun RunCli(const std::string& arguments, const std::string& errPath) {
  return testing::RunCommand(std::string("LC_ALL=de_DE.UTF-8 ") + Quoted(MODRIN_CLI_PATH) + " " +
                             arguments + " 2>" + Quoted(errPath));
}

// Every photo has its line, accepted, and the summary counts four solves.
void ExpectEveryPhotoAccepted(const CommandRun& run, std::size_t photos) {
  for (std::size_t c = 0; c < photos; ++c) {
    const std::string label = "Photo " + std::to_string(c) + ": " + PhotoName(c) + "  accepted  ";
    EXPECT_NE(run.out.find(label), std::string::npos) << label << '\n' << run.out;
  }
  EXPECT_NE(run.out.find("\nSolves: 4, accepted: 4\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find(','), run.out.find(", ")) << "a decimal comma in:\n" << run.out;
}

TEST(CliCalibrateTest, FindsTheCamerasAndSavesWhatTheEngineFinds) {
  testing::TempDir dir;
  const Scene scene = MakeScene();
  const std::string input = dir.File("scene.mpj");
  WriteProject(scene, dir, input);
  const std::string cameras = OwnCameraDatabase(dir);
  const std::string common = "--cameras " + Quoted(cameras) + " calibrate " + Quoted(input);

  const std::string polished = dir.File("polished.mpj");
  const CommandRun run = RunCli(common + " -o " + Quoted(polished), dir.File("err.txt"));
  ASSERT_EQ(run.status, 0) << testing::ReadFileText(dir.File("err.txt"));
  ExpectEveryPhotoAccepted(run, scene.cameras.size());
  model::Project saved;
  ASSERT_TRUE(model::ReadProjectText(saved, testing::ReadFileText(polished)));
  ASSERT_EQ(saved.photos.size(), scene.cameras.size());
  for (std::size_t c = 0; c < scene.cameras.size(); ++c) {
    const engine::CameraRecord& truth = scene.cameras[c];
    const engine::CameraRecord& camera = saved.photos[c]->camera;
    EXPECT_TRUE(camera.calibrated) << c;
    const double distance = std::sqrt((truth.translation - kSceneCentre).SquaredLength());
    EXPECT_LT(std::sqrt((camera.translation - truth.translation).SquaredLength()), 0.005 * distance)
        << c;
    EXPECT_LT(testing::RotationAngle(camera.orientation, truth.orientation), 0.25 * M_PI / 180)
        << c;
  }

  const std::string searched = dir.File("searched.mpj");
  const CommandRun unpolished =
      RunCli(common + " --no-polish -o " + Quoted(searched), dir.File("err.txt"));
  ASSERT_EQ(unpolished.status, 0) << testing::ReadFileText(dir.File("err.txt"));
  ExpectEveryPhotoAccepted(unpolished, scene.cameras.size());
  model::DocumentHost host;
  model::ProjectDocument document(host);
  document.SetProjectPath(input);
  ASSERT_TRUE(document.OpenProjectFile().ok());
  for (auto& photo : document.project().photos) photo->camera.pending = true;
  engine::CalibrationRunOptions options;
  options.calibration.polish = false;
  EXPECT_EQ(engine::RunCalibration(document.project(), options).accepted, 4);
  EXPECT_EQ(testing::ReadFileText(searched), model::WriteProjectText(document.project()));
}

TEST(CliCalibrateTest, ComputesTheCoordinatesAgainFromTheNewPoses) {
  testing::TempDir dir;
  const Scene scene = MakeScene();
  const std::string input = dir.File("scene.mpj");
  WriteProject(scene, dir, input);
  // Coordinates computed from poses of an earlier calibration: one of a point every photo
  // marks, and one of a point marked in photo 0 only, which no longer has two calibrated
  // photos to be computed from.
  model::Project stale;
  ASSERT_TRUE(model::ReadProjectText(stale, testing::ReadFileText(input)));
  model::Position& inside = stale.graph.positions.at(9);
  ASSERT_FALSE(inside.isReal);
  inside.coords = {100, 100, 100};
  inside.isComputed = true;
  std::int32_t once = 0;
  ASSERT_TRUE(stale.graph.NewPosition(once));
  model::Position& single = stale.graph.positions.at(once);
  single.imagePoints[0] = {600, 400};
  single.coords = {100, 100, 100};
  single.isComputed = true;
  ASSERT_TRUE(testing::WriteFileText(input, model::WriteProjectText(stale)));
  ASSERT_NE(testing::ReadFileText(input).find("\t9: - R(100.000,100.000,100.000) "),
            std::string::npos);
  const std::string cameras = OwnCameraDatabase(dir);

  const std::string out = dir.File("out.mpj");
  const CommandRun run =
      RunCli("--cameras " + Quoted(cameras) + " calibrate " + Quoted(input) + " -o " + Quoted(out),
             dir.File("err.txt"));
  ASSERT_EQ(run.status, 0) << testing::ReadFileText(dir.File("err.txt"));
  ExpectEveryPhotoAccepted(run, scene.cameras.size());

  const std::string text = testing::ReadFileText(out);
  EXPECT_EQ(text.find("100.000"), std::string::npos) << text;
  model::Project saved;
  ASSERT_TRUE(model::ReadProjectText(saved, text));
  model::PositionGraph::Coords xyz;
  ASSERT_TRUE(saved.graph.GetCoords(9, xyz));
  EXPECT_FALSE(saved.graph.IsReal(9));
  const Vec3 truth = scene.points[8];
  EXPECT_LT(std::sqrt((Vec3{xyz[0], xyz[1], xyz[2]} - truth).SquaredLength()), 0.05);
  EXPECT_FALSE(saved.graph.GetCoords(once, xyz));
  // The corners stay real, with their typed coordinates.
  for (std::int32_t id = 1; id <= 8; ++id) {
    const Vec3& p = scene.points[static_cast<std::size_t>(id - 1)];
    ASSERT_TRUE(saved.graph.GetCoords(id, xyz)) << id;
    EXPECT_TRUE(saved.graph.IsReal(id)) << id;
    EXPECT_EQ(xyz, (model::PositionGraph::Coords{p.x, p.y, p.z})) << id;
  }
  EXPECT_NE(text.find("\t1: U R(0.000,0.000,0.000) "), std::string::npos) << text;
  EXPECT_NE(text.find("\t8: U R(10.000,8.000,5.000) "), std::string::npos) << text;
}

TEST(CliCalibrateTest, TellsWhichPhotosMarksToCheck) {
  testing::TempDir dir;
  const Scene scene = MakeScene();
  const std::string input = dir.File("scene.mpj");
  WriteProject(scene, dir, input);
  // The first corner marked 40 pixels off in the third photo.
  model::Project project;
  ASSERT_TRUE(model::ReadProjectText(project, testing::ReadFileText(input)));
  project.graph.positions.at(1).imagePoints.at(2).x += 40;
  ASSERT_TRUE(testing::WriteFileText(input, model::WriteProjectText(project)));
  const std::string cameras = OwnCameraDatabase(dir);

  const CommandRun run = RunCli("--cameras " + Quoted(cameras) + " calibrate " + Quoted(input) +
                                    " -o " + Quoted(dir.File("out.mpj")),
                                dir.File("err.txt"));
  ASSERT_EQ(run.status, 0) << testing::ReadFileText(dir.File("err.txt"));
  ExpectEveryPhotoAccepted(run, scene.cameras.size());
  const std::string note = "\nPhoto 2: photo3.jpg  check its marks: ";
  const std::size_t at = run.out.find(note);
  ASSERT_NE(at, std::string::npos) << run.out;
  // One decimal and the unit, before the summary; no other photo is told.
  const std::size_t end = run.out.find('\n', at + 1);
  const std::string value = run.out.substr(at + note.size(), end - at - note.size());
  EXPECT_EQ(value.substr(value.size() - 3), " px") << value;
  EXPECT_EQ(value[value.size() - 5], '.') << value;
  EXPECT_GT(std::stod(value), 2.0);
  EXPECT_EQ(run.out.find("check its marks"), run.out.rfind("check its marks")) << run.out;
  EXPECT_EQ(run.out.find("Solves:"), end + 1) << run.out;
}

}  // namespace
}  // namespace modrin
