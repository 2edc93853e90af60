// The whole road on the bundled house sample through modrin-cli: calibrate every photo, then
// export OBJ, VRML, DirectX and glTF. Checks the poses and the computed corners against the truth
// the sample was made from, the faces and meshes of the model, the exported files' counts, and that
// an independent reader (assimp) loads the OBJ, DirectX and glTF files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "command_run.h"
#include "engine/face_finder.h"
#include "engine/reconstruction.h"
#include "mesh/mesh_builder.h"
#include "model/project.h"
#include "model/project_document.h"
#include "synthetic_scene.h"
#include "temp_dir.h"

namespace modrin {
namespace {

using engine::Vec3;
using testing::ShellQuoted;

// What truth.txt says about the photos and corners.
struct Truth {
  struct Photo {
    std::string name;
    Vec3 translation, orientation;
  };
  std::vector<Photo> photos;
  std::map<std::int32_t, Vec3> corners;  // position id -> world point
};

Truth ReadTruth(const std::string& path) {
  Truth truth;
  std::istringstream lines(testing::ReadFileText(path));
  lines.imbue(std::locale::classic());
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    fields.imbue(std::locale::classic());
    std::string kind;
    fields >> kind;
    if (kind == "photo") {
      Truth::Photo photo;
      fields >> photo.name >> photo.translation.x >> photo.translation.y >> photo.translation.z >>
          photo.orientation.x >> photo.orientation.y >> photo.orientation.z;
      truth.photos.push_back(photo);
    } else if (kind == "corner") {
      std::int32_t id = 0;
      Vec3 p;
      fields >> id >> p.x >> p.y >> p.z;
      truth.corners[id] = p;
    }
  }
  return truth;
}

// Lines of `text` that match `pattern` whole.
std::size_t CountLines(const std::string& text, const std::string& pattern) {
  const std::regex line_pattern(pattern);
  std::size_t count = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) count += std::regex_match(line, line_pattern);
  return count;
}

class HouseRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string sample = std::string(std::getenv("MODRIN_SOURCE_DIR")) + "/examples/house";
    std::filesystem::copy(sample, dir.path() / "house");
    project = (dir.path() / "house" / "house.mpj").string();
    truth = ReadTruth(sample + "/truth.txt");
  }

  testing::CommandRun Cli(const std::string& arguments) {
    return testing::RunCommand("XDG_DATA_HOME=" + ShellQuoted(dir.File("data")) +
                               " LC_ALL=de_DE.UTF-8 " + ShellQuoted(MODRIN_CLI_PATH) + " " +
                               arguments + " 2>" + ShellQuoted(dir.File("err.txt")));
  }

  testing::TempDir dir;
  std::string project;
  Truth truth;
};

// The largest absolute coordinate of the vertices ("v x y z") of an OBJ file.
double LargestVertexCoordinate(const std::string& obj) {
  double largest = 0;
  std::istringstream lines(obj);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("v ")) continue;
    std::istringstream fields(line.substr(2));
    fields.imbue(std::locale::classic());
    for (double value = 0; fields >> value;) largest = std::max(largest, std::abs(value));
  }
  return largest;
}

TEST_F(HouseRoad, CalibratesReconstructsAndExports) {
  // The west ridge end still holds coordinates computed from the poses of an earlier
  // calibration, far off the house; the run computes it again from its new poses.
  std::string text = testing::ReadFileText(project);
  const std::string ridgeEnd = "\t9: - ";
  ASSERT_NE(text.find(ridgeEnd), std::string::npos);
  text.replace(text.find(ridgeEnd), ridgeEnd.size(), "\t9: - R(100.000,100.000,100.000) ");
  ASSERT_TRUE(testing::WriteFileText(project, text));

  const testing::CommandRun calibrated = Cli("calibrate --all " + ShellQuoted(project));
  ASSERT_EQ(calibrated.status, 0) << testing::ReadFileText(dir.File("err.txt"));
  EXPECT_NE(calibrated.out.find("Solves: 6, accepted: 6\n"), std::string::npos) << calibrated.out;

  // Open the calibrated project as the tool saved it, with its pictures.
  model::DocumentHost host;
  model::ProjectDocument document(host);
  document.SetProjectPath(project);
  ASSERT_TRUE(document.OpenProjectFile().ok());
  model::Project& house = document.project();
  ASSERT_EQ(house.photos.size(), truth.photos.size());

  const Vec3 middle{4, 3, 2.5};
  for (std::size_t c = 0; c < truth.photos.size(); ++c) {
    const engine::CameraRecord& camera = house.photos[c]->camera;
    const Truth::Photo& expected = truth.photos[c];
    EXPECT_TRUE(camera.calibrated) << expected.name;
    const double distance = std::sqrt((expected.translation - middle).SquaredLength());
    EXPECT_LT(std::sqrt((camera.translation - expected.translation).SquaredLength()),
              0.005 * distance)
        << expected.name;
    EXPECT_LT(testing::RotationAngle(camera.orientation, expected.orientation), 0.25 * M_PI / 180)
        << expected.name;
  }

  // The model update: computed corners, the six faces, triangles in their photos' meshes.
  std::set<std::set<std::int32_t>> faces;
  engine::UpdateModel(house, [&](model::Project&, model::Object& object, int photo,
                                 const engine::FaceFinder& finder) {
    mesh::BuildObjectPhotoMesh(object, photo, finder.faces);
    for (const engine::Face& face : finder.faces) faces.insert(face.vertexIds);
  });
  const double sceneSize = std::sqrt(8.0 * 8 + 6 * 6 + 5 * 5);
  int computed = 0;
  for (const auto& [id, expected] : truth.corners) {
    model::PositionGraph::Coords xyz;
    ASSERT_TRUE(house.graph.GetCoords(id, xyz)) << id;
    if (house.graph.IsReal(id)) continue;
    ++computed;
    const Vec3 point{xyz[0], xyz[1], xyz[2]};
    EXPECT_LT(std::sqrt((point - expected).SquaredLength()), 0.01 * sceneSize) << id;
  }
  EXPECT_EQ(computed, 2);
  // Ground corners 1-4, eave corners 5-8 above them, ridge ends 9 (west) and 10 (east).
  const std::set<std::set<std::int32_t>> walls = {{1, 2, 6, 5},    {3, 4, 8, 7},  {2, 3, 7, 6, 10},
                                                  {1, 4, 8, 5, 9}, {5, 6, 10, 9}, {7, 8, 9, 10}};
  EXPECT_EQ(faces, walls);
  std::size_t vertices = 0, triangles = 0, meshes = 0;
  for (const auto& mesh : house.objects.at(0)->photoMeshes) {
    vertices += mesh->vertices().size();
    triangles += mesh->triangleCount();
    meshes += !mesh->vertices().empty();
  }
  EXPECT_EQ(triangles, 14u);  // two per rectangle, three per gable

  // The exports hold exactly those meshes.
  const std::string obj = dir.File("house.obj"), wrl = dir.File("house.wrl"),
                    x = dir.File("house.x"), gltf = dir.File("house.gltf"),
                    glb = dir.File("house.glb");
  for (const std::string& out : {obj, wrl, x, gltf, glb}) {
    const testing::CommandRun exported =
        Cli("export " + ShellQuoted(project) + " " + ShellQuoted(out));
    ASSERT_EQ(exported.status, 0) << testing::ReadFileText(dir.File("err.txt"));
    EXPECT_NE(exported.out.find("Faces found: 6\n"), std::string::npos) << exported.out;
  }
  const std::string objText = testing::ReadFileText(obj), wrlText = testing::ReadFileText(wrl);
  EXPECT_EQ(CountLines(objText, "v .*"), vertices);
  EXPECT_LT(LargestVertexCoordinate(objText), 10);
  EXPECT_EQ(CountLines(objText, "f .*"), triangles);
  EXPECT_EQ(CountLines(testing::ReadFileText(dir.File("house.mtl")), "newmtl .*"), 6u);
  EXPECT_EQ(CountLines(wrlText, "  Shape \\{"), meshes);
  // Points, texture points and the triangles' normals: six blanks, then numbers; index lines:
  // five blanks in coordIndex, four in texCoordIndex.
  EXPECT_EQ(CountLines(wrlText, "      -?[0-9].*,"), 2 * vertices + triangles);
  EXPECT_EQ(CountLines(wrlText, "     [0-9]+, [0-9]+, [0-9]+, -1,"), triangles);
  EXPECT_EQ(CountLines(wrlText, "    [0-9]+, [0-9]+, [0-9]+, -1,"), triangles);

  for (const std::string& path : {obj, x, gltf, glb}) {
    const testing::CommandRun loaded = testing::RunCommand("assimp info " + ShellQuoted(path));
    ASSERT_EQ(loaded.status, 0) << "assimp cannot load " << path << '\n' << loaded.out;
    EXPECT_NE(loaded.out.find("Faces:              " + std::to_string(triangles) + "\n"),
              std::string::npos)
        << loaded.out;
  }
}

// The overall RMS in pixels of a report's summary line "Overall: RMS 0.33 px over ...".
double OverallRms(const std::string& out, std::size_t from = 0) {
  const std::size_t at = out.find("Overall: RMS ", from);
  if (at == std::string::npos) return 1e9;
  std::istringstream number(out.substr(at + 13));
  number.imbue(std::locale::classic());
  double rms = 1e9;
  number >> rms;
  return rms;
}

TEST_F(HouseRoad, ReportsAndRefinesWithSubPixelResiduals) {
  ASSERT_EQ(Cli("calibrate --all " + ShellQuoted(project)).status, 0);
  const testing::CommandRun report = Cli("report --check 3 " + ShellQuoted(project));
  ASSERT_EQ(report.status, 0) << testing::ReadFileText(dir.File("err.txt"));
  EXPECT_LT(OverallRms(report.out), 1) << report.out;
  EXPECT_NE(report.out.find("       3  check"), std::string::npos) << report.out;
  EXPECT_NE(report.out.find("Check points: 1, typed to computed RMS 0.0"), std::string::npos)
      << report.out;

  const std::string refined = dir.File("refined.mpj");
  const testing::CommandRun refine =
      Cli("refine " + ShellQuoted(project) + " -o " + ShellQuoted(refined));
  ASSERT_EQ(refine.status, 0) << testing::ReadFileText(dir.File("err.txt"));
  const std::size_t after = refine.out.find("After refinement:");
  ASSERT_NE(after, std::string::npos) << refine.out;
  EXPECT_LT(OverallRms(refine.out, after), OverallRms(refine.out));
  EXPECT_LT(OverallRms(refine.out, after), 0.5) << refine.out;
  EXPECT_TRUE(testing::ReadFileText(refined).starts_with("Modrin file version 3.00\n"));
}

}  // namespace
}  // namespace modrin
