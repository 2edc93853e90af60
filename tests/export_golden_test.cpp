// The three model writers against files checked by hand: a square face in the first of two
// photos, two current objects and one that is not, written under a German locale. Run with
// MODRIN_UPDATE_GOLDEN=1 to write the golden files again after an intended change.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "export/save_model.h"
#include "mesh/mesh_builder.h"
#include "square_project.h"
#include "temp_dir.h"

namespace modrin {
namespace {

TEST(ExportGolden, ObjMtlVrmlAndDirectX) {
  testing::SquareProject square({"Wall", "Wall copy"});
  square.project.AddObject("Hidden").current = false;
  mesh::UpdateModelWithMeshes(square.project);
  // Numbers must not follow the locale's decimal comma.
  const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
  testing::TempDir dir;
  for (const char* extension : {".obj", ".wrl", ".x"}) {
    ASSERT_TRUE(
        exporters::SaveModel(square.project, dir.File(std::string("square") + extension)).ok);
  }
  std::setlocale(LC_ALL, "C");
  EXPECT_NE(german, nullptr) << "the de_DE.UTF-8 locale is not installed";

  const std::string golden = std::string(std::getenv("MODRIN_SOURCE_DIR")) + "/tests/golden/";
  const bool update = std::getenv("MODRIN_UPDATE_GOLDEN") != nullptr;
  for (const char* name : {"square.obj", "square.mtl", "square.wrl", "square.x"}) {
    const std::string written = testing::ReadFileText(dir.File(name));
    if (update) {
      ASSERT_TRUE(testing::WriteFileText(golden + name, written));
    } else {
      EXPECT_EQ(written, testing::ReadFileText(golden + name)) << name;
    }
  }
}

}  // namespace
}  // namespace modrin
