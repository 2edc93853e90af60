#include "model/project_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "images/jpeg_writer.h"
#include "model/project_file.h"
#include "temp_dir.h"

namespace modrin::model {
namespace {

using testing::ReadFileText;
using testing::TempDir;
using testing::WriteFileText;

// Records every call the document makes to its user interface, in order.
class RecordingHost : public DocumentHost {
 public:
  std::string AskProjectFileName(bool save) override {
    calls.push_back(save ? "ask save" : "ask open");
    return answer;
  }
  void ShowStatus(const std::string& text) override { calls.push_back("status " + text); }
  void ShowWarning(const std::string& text) override { calls.push_back("warning " + text); }
  void AddToRecentFiles(const std::string& path) override { calls.push_back("recent " + path); }
  void Redisplay() override { calls.push_back("redisplay"); }
  void InitializeViews3D() override { calls.push_back("init 3d"); }

  std::string answer;
  std::vector<std::string> calls;
};

// Writes a small JPEG whose EXIF block names `model` with a sensor of the given width.
void WritePhoto(const std::string& path, const std::string& model, double focalMm,
                double sensorWidthMm) {
  images::ExifCamera exif;
  exif.model = model;
  exif.focalLengthMm = focalMm;
  exif.focalPlaneResolutionUnit = 2;
  exif.focalPlaneXResolution = 40 / (sensorWidthMm / 25.4);
  exif.focalPlaneYResolution = exif.focalPlaneXResolution;
  ASSERT_TRUE(images::WriteJpegFile(path, images::DecodedImage::Filled(40, 30, 128), 90, exif));
}

class ProjectDocumentTest : public ::testing::Test {
 protected:
  RecordingHost host;
  ProjectDocument document{host};
  TempDir dir;
};

TEST_F(ProjectDocumentTest, SaveWritesOnlyUnsavedChangesAndAsksForMissingName) {
  EXPECT_EQ(document.Save().status, FileResult::Status::NothingToDo);
  EXPECT_TRUE(host.calls.empty());

  document.SetModified(true);
  EXPECT_EQ(document.Save().status, FileResult::Status::Cancelled);
  EXPECT_EQ(host.calls, std::vector<std::string>{"ask save"});
  EXPECT_TRUE(document.modified());

  host.answer = dir.File("p.mpj");
  std::int32_t id = 0;
  document.project().graph.NewPosition(id);
  ASSERT_TRUE(document.Save().ok());
  EXPECT_FALSE(document.modified());
  EXPECT_EQ(document.projectPath(), host.answer);
  EXPECT_EQ(host.calls.back(), "recent " + host.answer);
  EXPECT_EQ(ReadFileText(host.answer), WriteProjectText(document.project()));
}

TEST_F(ProjectDocumentTest, SaveAsWritesTheChosenFileWithOrWithoutChanges) {
  document.SetProjectPath(dir.File("p.mpj"));
  host.answer = dir.File("copy.mpj");
  EXPECT_EQ(document.SaveAs().status, FileResult::Status::Done);
  EXPECT_EQ(document.projectPath(), host.answer);
  EXPECT_EQ(ReadFileText(host.answer), WriteProjectText(document.project()));
  // A cancelled dialog writes nothing and leaves no path.
  host.answer.clear();
  EXPECT_EQ(document.SaveAs().status, FileResult::Status::Cancelled);
  EXPECT_EQ(document.projectPath(), "");
}

TEST_F(ProjectDocumentTest, FailedSaveKeepsOldFileAndModifiedFlag) {
  const std::string path = dir.File("p.mpj");
  ASSERT_TRUE(WriteFileText(path, "old contents"));

  // A target that cannot be replaced: a folder of that name beside an unwritable path.
  document.SetModified(true);
  document.SetProjectPath(dir.File("missing-folder/p.mpj"));
  FileResult result = document.Save();
  EXPECT_EQ(result.status, FileResult::Status::Failed);
  EXPECT_NE(result.error.find("missing-folder/p.mpj"), std::string::npos) << result.error;
  EXPECT_TRUE(document.modified());

  std::filesystem::create_directory(dir.File("folder.mpj"));
  document.SetProjectPath(dir.File("folder.mpj"));
  EXPECT_EQ(document.Save().status, FileResult::Status::Failed);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.mpj")));
  EXPECT_EQ(ReadFileText(path), "old contents");
  // No temporary files are left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST_F(ProjectDocumentTest, OpeningAMissingFileLeavesTheProjectAlone) {
  document.project().AddObject("Kept");
  document.SetProjectPath(dir.File("nothing.mpj"));
  FileResult result = document.OpenProjectFile();
  EXPECT_EQ(result.status, FileResult::Status::Failed);
  EXPECT_NE(result.error.find("nothing.mpj"), std::string::npos);
  EXPECT_EQ(document.project().objects.size(), 1u);
  EXPECT_TRUE(host.calls.empty());
}

// A file that cannot be opened, or is refused for its size, must not become the next Save's
// target: the path, the project and the modified flag stay as they were, so Save writes the
// project still loaded to the file it came from.
TEST_F(ProjectDocumentTest, FileThatCannotBeOpenedIsNeverTheNextSavesTarget) {
  std::string refusedText = "Modrin file version 3.00\n";
  for (int i = 0; i < 1001; ++i) refusedText += "Image: \"p\"\n";
  refusedText += "Positions:\nEdges:\n";
  for (int i = 0; i < 1000; ++i) refusedText += "Object: \"o\"\n";
  const std::string refused = dir.File("refused.mpj");
  ASSERT_TRUE(WriteFileText(refused, refusedText));
  std::filesystem::create_directory(dir.File("folder.mpj"));

  const std::string own = dir.File("own.mpj");
  document.project().AddObject("Kept");
  document.SetProjectPath(own);
  document.SetModified(true);
  for (const std::string& path : {refused, dir.File("folder.mpj"), dir.File("missing.mpj")}) {
    host.answer = path;
    const FileResult opened = document.Open();
    EXPECT_EQ(opened.status, FileResult::Status::Failed) << path;
    EXPECT_NE(opened.error.find(path), std::string::npos) << opened.error;
    EXPECT_EQ(document.OpenRecentFile(path).status, FileResult::Status::Failed) << path;
    EXPECT_EQ(document.projectPath(), own);
    EXPECT_TRUE(document.modified());
    ASSERT_EQ(document.project().objects.size(), 1u);
    EXPECT_EQ(document.project().objects[0]->name, "Kept");
  }
  EXPECT_TRUE(std::none_of(host.calls.begin(), host.calls.end(),
                           [](const std::string& call) { return call.starts_with("recent"); }));

  ASSERT_TRUE(document.Save().ok());
  EXPECT_EQ(ReadFileText(refused), refusedText);
  EXPECT_EQ(ReadFileText(own), WriteProjectText(document.project()));
}

TEST_F(ProjectDocumentTest, CancelledOpenKeepsProjectButForgetsPath) {
  document.project().AddObject("Kept");
  document.SetProjectPath(dir.File("p.mpj"));
  EXPECT_EQ(document.Open().status, FileResult::Status::NothingToDo);
  EXPECT_EQ(document.projectPath(), "");
  EXPECT_EQ(document.project().objects.size(), 1u);
}

TEST_F(ProjectDocumentTest, OpenReadsFileLoadsImagesAndKeepsModifiedFlag) {
  WritePhoto(dir.File("a.jpg"), "Cam A", 35, 23.6);
  const std::string path = dir.File("p.mpj");
  ASSERT_TRUE(WriteFileText(path, "Modrin file version 3.00\nImage: \"" + dir.File("a.jpg") +
                                      "\"\n\tCalibrated: Y\n\tFocal: 0.010000\nPositions:\n"
                                      "\t4: - 0(1,2)\nEdges:\n"));
  host.answer = path;
  ASSERT_TRUE(document.Open().ok());
  const Project& project = document.project();
  ASSERT_EQ(project.photos.size(), 1u);
  EXPECT_TRUE(project.photos[0]->HasImage());
  // The EXIF focal length replaces the one in the file.
  EXPECT_DOUBLE_EQ(project.photos[0]->camera.focal, 0.035);
  EXPECT_EQ(project.graph.lastPositionId, 4);
  EXPECT_FALSE(document.modified());
  EXPECT_EQ(host.calls,
            (std::vector<std::string>{"ask open", "recent " + path, "status Loading image a.jpg",
                                      "redisplay", "status ", "init 3d"}));
}

TEST_F(ProjectDocumentTest, PhotosMovedWithTheProjectAreFoundBesideIt) {
  WritePhoto(dir.File("left.jpg"), "Cam", 50, 36);
  WritePhoto(dir.File("right.jpg"), "Cam", 50, 36);
  // Paths as a project saved on another machine holds them, with either separator.
  document.project().AddPhoto().SetPath("C:\\Users\\me\\shoot\\left.jpg");
  document.project().AddPhoto().SetPath("/home/other/shoot/right.jpg");
  document.project().AddPhoto().SetPath("/nowhere/gone.jpg");
  document.SetProjectPath(dir.File("p.mpj"));
  document.LoadMissingImages();

  const auto& photos = document.project().photos;
  EXPECT_TRUE(photos[0]->HasImage());
  EXPECT_EQ(photos[0]->path, dir.File("left.jpg"));
  EXPECT_TRUE(photos[1]->HasImage());
  EXPECT_EQ(photos[1]->path, dir.File("right.jpg"));
  // The replaced path stays even when the second attempt fails too.
  EXPECT_FALSE(photos[2]->HasImage());
  EXPECT_EQ(photos[2]->path, dir.File("gone.jpg"));
}

TEST_F(ProjectDocumentTest, ParallelLoadAppliesResultsInPhotoOrder) {
  // Several photos of one camera model with different sensor sizes: the first photo's entry
  // must win, as in a one-by-one load, and the status texts come in photo order.
  std::vector<std::string> paths;
  std::vector<std::string> expectedStatus;
  for (int i = 0; i < 8; ++i) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about "p" + ... + ".jpg".
    std::string name = "p";
    name += std::to_string(i);
    name += ".jpg";
    WritePhoto(dir.File(name), "Same", 20 + i, 10.0 + i);
    paths.push_back(dir.File(name));
    expectedStatus.push_back("status Loading image " + name);
  }
  paths.insert(paths.begin() + 3, "");  // an empty selection entry adds no photo
  document.LoadImages(paths);

  EXPECT_TRUE(document.modified());
  const Project& project = document.project();
  ASSERT_EQ(project.photos.size(), 8u);
  const images::CameraEntry* entry = project.cameraDatabase.Find("Same");
  ASSERT_NE(entry, nullptr);
  EXPECT_NEAR(entry->cellWidth, 0.010, 1e-9);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(project.photos[i]->camera.cameraEntry, entry);
    EXPECT_DOUBLE_EQ(project.photos[i]->camera.focal, (20 + i) * 0.001);
  }
  std::vector<std::string> status;
  for (const auto& call : host.calls) {
    if (call.starts_with("status Loading")) status.push_back(call);
  }
  EXPECT_EQ(status, expectedStatus);
}

TEST_F(ProjectDocumentTest, WarnsWhenTheFirstPhotoHasNoFocal) {
  ASSERT_TRUE(WriteFileText(dir.File("broken.jpg"), "not a picture"));
  document.LoadImages({dir.File("broken.jpg")});
  EXPECT_FALSE(document.project().photos[0]->HasImage());
  EXPECT_NE(std::find(host.calls.begin(), host.calls.end(),
                      std::string("warning ") + kFocalNotDefinedWarning),
            host.calls.end());

  // Cancelling the dialog still refreshes the views and marks the project modified.
  ProjectDocument empty(host);
  host.calls.clear();
  empty.LoadImages({});
  EXPECT_TRUE(empty.modified());
  EXPECT_EQ(host.calls, (std::vector<std::string>{"redisplay", "status ", "init 3d"}));
}

TEST_F(ProjectDocumentTest, UndoOfLoadImagesKeepsThePicturesForRedo) {
  // Without a history, as the command-line tool keeps its documents, an edit only marks the
  // project modified.
  EXPECT_TRUE(document.RecordStep("Add Point"));
  EXPECT_TRUE(document.modified());
  EXPECT_FALSE(document.Undo());

  document.KeepUndoSteps(200);
  document.SetModified(false);
  WritePhoto(dir.File("a.jpg"), "Cam", 20, 10);
  document.LoadImages({dir.File("a.jpg")});
  EXPECT_EQ(document.history().UndoName(), "Load Images");
  const images::DecodedImage* picture = &document.project().photos[0]->image();

  host.calls.clear();
  ASSERT_TRUE(document.Undo());
  EXPECT_TRUE(document.project().photos.empty());
  EXPECT_FALSE(document.modified()) << "back at the state opened";
  EXPECT_EQ(host.calls, (std::vector<std::string>{"redisplay", "init 3d"}));

  host.calls.clear();
  ASSERT_TRUE(document.Redo());
  ASSERT_EQ(document.project().photos.size(), 1u);
  EXPECT_EQ(&document.project().photos[0]->image(), picture) << "not decoded again";
  EXPECT_EQ(document.project().photos[0]->camera.cameraEntry,
            document.project().cameraDatabase.Find("Cam"));
  EXPECT_TRUE(document.modified());
  EXPECT_EQ(host.calls, (std::vector<std::string>{"redisplay", "init 3d"}));
}

TEST(PathParts, CutAtEitherSeparator) {
  EXPECT_EQ(FileNamePart("C:\\data.v2\\picture"), "picture");
  EXPECT_EQ(FileNamePart("/home/a/b.jpg"), "b.jpg");
  EXPECT_EQ(FileNamePart("mixed/dir\\name.png"), "name.png");
  EXPECT_EQ(FileNamePart("bare.jpg"), "bare.jpg");
  EXPECT_EQ(PathBesideProject("C:\\shoot\\p.mpj", "D:\\x\\a.jpg"), "C:\\shoot\\a.jpg");
  EXPECT_EQ(PathBesideProject("/p.mpj", "/x/a.jpg"), "/a.jpg");
  EXPECT_EQ(PathBesideProject("p.mpj", "/x/a.jpg"), "a.jpg");
}

}  // namespace
}  // namespace modrin::model
