#include "model/recovery_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "images/jpeg_writer.h"
#include "model/project_file.h"
#include "temp_dir.h"

namespace modrin::model {
namespace {

using testing::TempDir;
using testing::WriteFileText;
namespace fs = std::filesystem;

TEST(RecoveryStoreTest, FolderFollowsXdgStateHomeOrDefaultsUnderHome) {
  struct Case {
    const char* stateHome;
    const char* home;
    std::string folder;
  };
  const Case cases[] = {
      {"/s", "/h", "/s/modrin/recovery"},
      {nullptr, "/h", "/h/.local/state/modrin/recovery"},
      {"", "/h", "/h/.local/state/modrin/recovery"},
      {"relative/state", "/h", "/h/.local/state/modrin/recovery"},
      {nullptr, "", ""},
      {nullptr, nullptr, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RecoveryFolder(c.stateHome, c.home), c.folder)
        << (c.stateHome ? c.stateHome : "(unset)") << " " << (c.home ? c.home : "(unset)");
  }
}

TEST(RecoveryStoreTest, NamesAreSafeAndDistinctForDistinctPaths) {
  EXPECT_EQ(RecoveryFileName(""), "untitled");
  EXPECT_EQ(RecoveryFileName("/home/ann/my house.mpj"), "%2Fhome%2Fann%2Fmy%20house.mpj");
  const std::string longFolder(300, 'a');
  // Pairs that a careless encoding would mix up, and long paths that differ only where a cut
  // name no longer shows.
  const std::string paths[] = {
      "/a/b.mpj",
      "/a%2Fb.mpj",
      "/a_b.mpj",
      "/a b.mpj",
      "/a~b.mpj",
      "/untitled",
      "/A/b.mpj",
      "/\xc3\xa9t\xc3\xa9.mpj",
      "/" + longFolder + "/x.mpj",
      "/b" + longFolder + "/x.mpj",
      "/c" + longFolder + "/x.mpj",
  };
  std::set<std::string> names{"untitled"};
  for (const std::string& path : paths) {
    const std::string name = RecoveryFileName(path);
    EXPECT_TRUE(names.insert(name).second) << path << " gives a name already given: " << name;
    EXPECT_LE(name.size(), 255u) << path;
    EXPECT_EQ(name.find('/'), std::string::npos) << path;
    EXPECT_NE(name[0], '.') << path;
  }
}

TEST(RecoveryStoreTest, FindsOnlyACopyNewerThanTheProjectFile) {
  TempDir dir;
  const std::string folder = dir.File("recovery");
  fs::create_directories(folder);
  const std::string project = dir.File("house.mpj");
  const std::string copy = folder + "/" + RecoveryFileName(project);
  EXPECT_FALSE(FindNewerRecoveryCopy(folder, project)) << "no copy";

  ASSERT_TRUE(WriteFileText(copy, ProjectFileHeader()));
  // No project file at all: the copy is all there is.
  ASSERT_TRUE(FindNewerRecoveryCopy(folder, project));
  EXPECT_EQ(FindNewerRecoveryCopy(folder, project)->path, copy);

  ASSERT_TRUE(WriteFileText(project, ProjectFileHeader()));
  const auto now = fs::last_write_time(project);
  fs::last_write_time(copy, now - std::chrono::seconds(5));
  EXPECT_FALSE(FindNewerRecoveryCopy(folder, project)) << "older copy";
  fs::last_write_time(copy, now);
  EXPECT_FALSE(FindNewerRecoveryCopy(folder, project)) << "copy as old as the file";
  fs::last_write_time(copy, now + std::chrono::seconds(5));
  const auto found = FindNewerRecoveryCopy(folder, project);
  ASSERT_TRUE(found) << "newer copy";
  EXPECT_EQ(found->written, std::chrono::file_clock::to_sys(now + std::chrono::seconds(5)));

  EXPECT_FALSE(FindNewerRecoveryCopy(folder, "")) << "no untitled copy";
  ASSERT_TRUE(WriteFileText(folder + "/untitled", ProjectFileHeader()));
  EXPECT_TRUE(FindNewerRecoveryCopy(folder, ""));
  EXPECT_FALSE(FindNewerRecoveryCopy("", project)) << "no folder";
}

TEST(RecoveryStoreTest, OpensTheCopyUnderTheOriginalPathWithPhotosBesideIt) {
  TempDir dir;
  const std::string project = dir.File("house.mpj");
  ASSERT_TRUE(images::WriteJpegFile(dir.File("front.jpg"),
                                    images::DecodedImage::Filled(40, 30, 128), 90, std::nullopt));
  Project recovered;
  recovered.AddPhoto().SetPath("/gone/front.jpg");
  recovered.AddObject("Roof");
  const std::string copy = dir.File("copy");
  ASSERT_TRUE(WriteFileText(copy, WriteProjectText(recovered)));

  DocumentHost host;
  ProjectDocument document(host);
  document.KeepUndoSteps(200);
  document.project().AddObject("Before");
  document.RecordStep("New Object");
  const FileResult result = OpenRecoveryCopy(document, project, copy);
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(document.projectPath(), project);
  EXPECT_TRUE(document.modified());
  ASSERT_EQ(document.project().objects.size(), 1u);
  ASSERT_EQ(document.project().photos.size(), 1u);
  EXPECT_TRUE(document.project().photos[0]->HasImage());
  EXPECT_EQ(document.project().photos[0]->path, dir.File("front.jpg"));
  EXPECT_TRUE(fs::exists(copy));
  EXPECT_TRUE(CheckRecoveryCopy(copy).ok());

  // Undo stops at the recovered project, which stays modified: the file does not hold it.
  EXPECT_FALSE(document.history().CanUndo());
  document.project().AddObject("Wall");
  ASSERT_TRUE(document.RecordStep("New Object"));
  ASSERT_TRUE(document.Undo());
  EXPECT_EQ(document.project().objects.size(), 1u);
  EXPECT_TRUE(document.modified());
}

TEST(RecoveryStoreTest, ACopyThatCannotBeReadIsReportedAndKept) {
  TempDir dir;
  ASSERT_TRUE(WriteFileText(dir.File("garbage"), "Image: \"a.jpg\"\n"));
  fs::create_directories(dir.File("folder"));
  struct Case {
    std::string copy;
    std::string reason;
  };
  const Case cases[] = {
      {dir.File("missing"), "No such file"},
      {dir.File("folder"), "it is a folder"},
      {dir.File("garbage"), "not a Modrin project file"},
  };
  for (const Case& c : cases) {
    DocumentHost host;
    ProjectDocument document(host);
    document.project().AddObject("Kept");
    document.SetProjectPath("/before.mpj");
    EXPECT_EQ(CheckRecoveryCopy(c.copy).error,
              OpenRecoveryCopy(document, dir.File("house.mpj"), c.copy).error);
    const FileResult result = OpenRecoveryCopy(document, dir.File("house.mpj"), c.copy);
    EXPECT_EQ(result.status, FileResult::Status::Failed) << c.copy;
    EXPECT_NE(result.error.find("\"" + c.copy + "\""), std::string::npos) << result.error;
    EXPECT_NE(result.error.find(c.reason), std::string::npos) << result.error;
    EXPECT_EQ(document.projectPath(), "/before.mpj");
    EXPECT_EQ(document.project().objects.size(), 1u);
    EXPECT_FALSE(document.modified());
  }
  EXPECT_TRUE(fs::exists(dir.File("garbage")));
}

}  // namespace
}  // namespace modrin::model
