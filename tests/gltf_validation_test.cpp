// Khronos' glTF validator on the files the glTF writer makes: the calibrated house sample, and a
// project of two objects with a photo that has no triangles, each as .gltf (with its .bin and
// the photos beside it) and as .glb. Every file must pass without errors or warnings.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "command_run.h"
#include "engine/reconstruction.h"
#include "export/save_model.h"
#include "images/jpeg_writer.h"
#include "mesh/mesh_builder.h"
#include "model/project.h"
#include "model/project_document.h"
#include "square_project.h"
#include "temp_dir.h"

namespace modrin {
namespace {

const std::string kSource = std::getenv("MODRIN_SOURCE_DIR");

// Runs the validator on the .gltf and .glb of `project` written into `dir` as `name`.
void ExpectValid(const model::Project& project, const testing::TempDir& dir,
                 const std::string& name) {
  std::string files;
  for (const char* extension : {".gltf", ".glb"}) {
    const std::string path = dir.File(name + extension);
    const exporters::SaveModelResult saved = exporters::SaveModel(project, path);
    ASSERT_TRUE(saved.ok) << saved.error;
    files += " '" + path + "'";
  }
  const testing::CommandRun run =
      testing::RunCommand("node '" + kSource + "/tests/js/validate_gltf.js'" + files);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find(name + ".gltf: 0 errors, 0 warnings"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(name + ".glb: 0 errors, 0 warnings"), std::string::npos) << run.out;
}

TEST(GltfValidation, HouseSample) {
  testing::TempDir dir;
  for (const auto& entry : std::filesystem::directory_iterator(kSource + "/examples/house")) {
    std::filesystem::copy(entry.path(), dir.path() / entry.path().filename());
  }
  model::DocumentHost host;
  model::ProjectDocument document(host);
  ASSERT_TRUE(document.OpenPath(dir.File("house.mpj")).ok());
  model::Project& house = document.project();
  for (auto& photo : house.photos) photo->camera.pending = true;
  engine::RunCalibration(house);
  mesh::UpdateModelWithMeshes(house);
  std::filesystem::create_directory(dir.File("model"));
  ExpectValid(house, dir, "model/house");
}

TEST(GltfValidation, TwoObjectsAndAPhotoWithoutTriangles) {
  testing::TempDir dir;
  testing::SquareProject square({"Front", "Copy"});
  const char* names[] = {"front.jpg", "back.jpg"};
  for (int p = 0; p < 2; ++p) {
    const auto& photo = square.project.photos[p];
    photo->path = dir.File(names[p]);
    ASSERT_TRUE(images::WriteJpegFile(photo->path, photo->image(), 90, std::nullopt));
  }
  mesh::UpdateModelWithMeshes(square.project);
  ExpectValid(square.project, dir, "square");
}

}  // namespace
}  // namespace modrin
