#include <gtest/gtest.h>

#include <filesystem>

#include "export/directx_writer.h"
#include "export/obj_writer.h"
#include "export/save_model.h"
#include "export/vrml_writer.h"
#include "mesh/mesh_builder.h"
#include "model/project.h"
#include "square_project.h"
#include "temp_dir.h"

namespace modrin::exporters {
namespace {

using testing::SquareProject;

TEST(ObjWriterTest, GroupsPerObjectAndPhotoWithRunningIndices) {
  SquareProject square({"A", "B"});
  mesh::UpdateModelWithMeshes(square.project);
  const ObjModel model = WriteObjModel(square.project, "/out/model.v1.obj");
  EXPECT_EQ(model.mtlPath, "/out/model.v1.mtl");
  EXPECT_TRUE(model.objText.starts_with("mtllib model.v1.mtl\n"));
  // Four groups; B's photo-0 group starts after A's four vertices.
  for (const char* group : {"g A_0\n", "g A_1\n", "g B_0\n", "g B_1\n"}) {
    EXPECT_NE(model.objText.find(group), std::string::npos) << group;
  }
  EXPECT_NE(model.objText.find("usemtl back\n"), std::string::npos);
  const std::size_t groupB = model.objText.find("g B_0\n");
  EXPECT_NE(model.objText.find(" 5/5/5", groupB), std::string::npos);
  EXPECT_EQ(model.objText.find(" 9/9/9"), std::string::npos);
  EXPECT_NE(model.mtlText.find("newmtl front\n"), std::string::npos);
  EXPECT_NE(model.mtlText.find("map_Kd C:\\photos\\front.jpg\n"), std::string::npos);
}

TEST(ObjWriterTest, NamesWithoutFolderOrExtension) {
  EXPECT_EQ(MtlPathFor("model.obj"), "model.mtl");
  EXPECT_EQ(MtlPathFor("C:\\models\\house.obj"), "C:\\models\\house.mtl");
  EXPECT_EQ(MtlPathFor("/a.b/model"), "/a.b/model.mtl");
  std::string mtl;
  EXPECT_EQ(WriteMaterial(mtl, "photo"), "photo");
  EXPECT_EQ(WriteMaterial(mtl, "/x.d/photo"), "photo");
}

TEST(VrmlWriterTest, EmptyMeshesAndNonCurrentObjects) {
  SquareProject square({"A"});
  // Before any model update every mesh is empty: an empty group.
  EXPECT_EQ(WriteVrmlModel(square.project),
            "#VRML V2.0 utf8\n\nNavigationInfo {\n   type \"EXAMINE\"\n}\n"
            "\nGroup { # A\n children [\n ]\n}\n");
  square.project.objects[0]->current = false;
  EXPECT_EQ(WriteVrmlModel(square.project),
            "#VRML V2.0 utf8\n\nNavigationInfo {\n   type \"EXAMINE\"\n}\n");
  EXPECT_EQ(TextureUrl("C:\\photos\\front.jpg"), "file://C:/photos/front.jpg");
  EXPECT_EQ(TextureUrl("http://host/a\\b.jpg"), "http://host/a/b.jpg");
  EXPECT_EQ(TextureUrl("/home/me/a.jpg"), "file:///home/me/a.jpg");
}

TEST(DirectXWriterTest, NamesAreIdentifiers) {
  EXPECT_EQ(DirectXName("Roof 2"), "Roof_2");
  EXPECT_EQ(DirectXName("2nd"), "_2nd");
  EXPECT_EQ(DirectXName(""), "_");
  SquareProject square({"My house", "My-house"});
  mesh::UpdateModelWithMeshes(square.project);
  const std::string text = WriteDirectXModel(square.project);
  EXPECT_NE(text.find("Frame My_house {"), std::string::npos);
  EXPECT_NE(text.find("Frame My_house_2 {"), std::string::npos);
  // Only photo 0 has triangles, so one mesh per frame.
  EXPECT_NE(text.find("Mesh My_house_front {"), std::string::npos);
  EXPECT_EQ(text.find("_back"), std::string::npos);
}

TEST(SaveModelTest, FormatByExtensionAndFailuresReported) {
  testing::TempDir dir;
  SquareProject square({"A"});
  mesh::UpdateModelWithMeshes(square.project);
  EXPECT_EQ(ModelFormatOf("a.OBJ"), ModelFormat::kObj);
  EXPECT_EQ(ModelFormatOf("a.vrml"), ModelFormat::kNone);

  const SaveModelResult unknown = SaveModel(square.project, dir.File("model.vrml"));
  EXPECT_FALSE(unknown.ok);
  EXPECT_FALSE(std::filesystem::exists(dir.File("model.vrml")));

  ASSERT_TRUE(SaveModel(square.project, dir.File("model.obj")).ok);
  EXPECT_TRUE(std::filesystem::exists(dir.File("model.mtl")));

  // The library cannot be written (a folder is in the way): neither file is.
  std::filesystem::create_directory(dir.File("blocked.mtl"));
  const SaveModelResult blocked = SaveModel(square.project, dir.File("blocked.obj"));
  EXPECT_FALSE(blocked.ok);
  EXPECT_NE(blocked.error.find("blocked.mtl"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("blocked.obj")));

  const SaveModelResult missingFolder = SaveModel(square.project, dir.File("no/such.wrl"));
  EXPECT_FALSE(missingFolder.ok);

  model::Project empty;
  ASSERT_TRUE(SaveModel(empty, dir.File("empty.x")).ok);
  EXPECT_EQ(std::filesystem::file_size(dir.File("empty.x")), 0u);
}

}  // namespace
}  // namespace modrin::exporters
