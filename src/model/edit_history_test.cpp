#include "model/edit_history.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "model/photo.h"
#include "model/project.h"
#include "model/project_file.h"

namespace modrin::model {
namespace {

// Everything undo must give back: the file text, the id counters, the camera database and
// the photos' links into it and flags the file leaves out.
std::string Fingerprint(const Project& project) {
  std::string text = WriteProjectText(project);
  text += "ids " + std::to_string(project.graph.lastPositionId) + " " +
          std::to_string(project.graph.lastEdgeId) + "\n" + project.cameraDatabase.ToText();
  for (const auto& photo : project.photos) {
    text += photo->camera.pending ? "pending " : "- ";
    text += photo->camera.cameraEntry ? photo->camera.cameraEntry->name : "(none)";
    text += photo->HasImage() ? " picture\n" : "\n";
  }
  for (const auto& object : project.objects) {
    if (object->photoMeshes.size() != project.photos.size()) text += "meshes out of step\n";
  }
  return text;
}

// What the 3D views' model update does to positions that are not real: coordinates.
void ComputeEveryPosition(Project& project, int seed) {
  for (auto& [id, position] : project.graph.positions) {
    if (position.isReal) continue;
    position.coords = {0.5 * id, 0.25 * seed, -1};
    position.isComputed = true;
  }
}

// Random edits through the project's own operations, as the views and dialogs make them.
class RandomEditor {
 public:
  explicit RandomEditor(unsigned seed) : random_(seed) {}

  // One edit of a kind picked at random; returns its name.
  std::string Edit(Project& project) {
    if (project.photos.empty()) AddPhoto(project);
    if (project.objects.empty()) project.AddObject("Object").current = true;
    const int photo = Pick(static_cast<int>(project.photos.size()));
    switch (Pick(14)) {
      case 0:
      case 1:
        project.AddImagePoint(photo, {Pick(400), Pick(300)});
        return "add";
      case 2:
        project.MoveImagePoint(AnyPosition(project), photo, {Pick(400), Pick(300)});
        return "move";
      case 3:
        project.RemoveImagePoint(AnyPosition(project), photo);
        return "remove";
      case 4:
        project.MergePositions(AnyPosition(project), AnyPosition(project));
        return "merge";
      case 5:
        project.AddEdge(AnyPosition(project), AnyPosition(project));
        return "edge";
      case 6: {
        std::int32_t edge = AnyEdge(project);
        project.SplitEdge(edge, AnyPosition(project));
        return "split";
      }
      case 7:
        project.DeleteEdge(AnyEdge(project));
        return "delete edge";
      case 8:
        project.graph.SetRealCoords(AnyPosition(project), {Coordinate(), Coordinate(), 1.5});
        return "real";
      case 9:
        project.AddObject("Object").current = Pick(2) == 0;
        return "new object";
      case 10:
        if (project.objects.size() > 1) {
          project.RemoveObject(project.objects[Pick(project.objects.size())]->name);
        }
        return "delete object";
      case 11: {
        Object& object = *project.objects[Pick(project.objects.size())];
        if (Pick(2) == 0) {
          project.RenameObject(object, "Renamed " + std::to_string(Pick(5)));
        } else {
          object.current = !object.current;
        }
        return "object";
      }
      case 12:
        if (project.photos.size() < 6) AddPhoto(project);
        return "load images";
      default: {
        engine::CameraRecord& camera = project.photos[photo]->camera;
        camera.calibrated = !camera.calibrated;
        camera.translation = {Coordinate(), Coordinate(), Coordinate()};
        camera.orientation.z = Coordinate();
        camera.focal = 0.001 * Pick(50);
        const std::string model = "Camera " + std::to_string(Pick(3));
        project.cameraDatabase.Insert(model, 0.001 * (1 + Pick(30)), 0.02, true);
        camera.cameraEntry = project.cameraDatabase.Find(model);
        project.graph.InvalidateAllComputed();
        return "calibration";
      }
    }
  }

 private:
  template <typename N>
  N Pick(N n) {
    return std::uniform_int_distribution<N>(0, n - 1)(random_);
  }
  double Coordinate() { return std::uniform_real_distribution<double>(-5, 5)(random_); }
  std::int32_t AnyPosition(const Project& project) {
    return Pick(project.graph.lastPositionId + 2);
  }
  std::int32_t AnyEdge(const Project& project) { return Pick(project.graph.lastEdgeId + 2); }
  void AddPhoto(Project& project) {
    project.AddPhoto().SetPath("photo" + std::to_string(Pick(1000)) + ".jpg");
  }

  std::mt19937 random_;
};

// 1,000 random edits, each undone and redone at once; then all undone and all redone.
TEST(EditHistoryTest, EveryRandomEditUndoneGivesBackTheStateBeforeIt) {
  Project project;
  EditHistory history(2000);
  history.Reset(project);
  RandomEditor editor(20261209);
  std::vector<std::string> states{Fingerprint(project)};
  for (int i = 0; i < 1000; ++i) {
    const std::string before = Fingerprint(project);
    const std::string name = editor.Edit(project);
    std::string after = Fingerprint(project);
    ASSERT_EQ(history.Record(project, name), after != before) << i << " " << name;
    if (after == before) continue;
    EXPECT_EQ(history.UndoName(), name);
    // Now and then a change no step records, as the program's own computing makes one: undo
    // takes it back with the step before it, and redo gives it back.
    if (i % 6 == 0) {
      ComputeEveryPosition(project, i);
      after = Fingerprint(project);
    } else if (i % 6 == 3) {
      editor.Edit(project);
      after = Fingerprint(project);
    }
    states.push_back(after);

    RestoredPhotos restored;
    ASSERT_TRUE(history.Undo(project, restored));
    ASSERT_EQ(Fingerprint(project), before) << "edit " << i << ": " << name;
    ASSERT_TRUE(history.Redo(project, restored));
    ASSERT_EQ(Fingerprint(project), after) << "edit " << i << ": " << name;
  }

  // The whole sequence undone and redone passes every state again, in order.
  RestoredPhotos restored;
  for (std::size_t i = states.size() - 1; i > 0; --i) {
    ASSERT_TRUE(history.Undo(project, restored));
    ASSERT_EQ(Fingerprint(project), states[i - 1]) << i;
  }
  EXPECT_FALSE(history.Undo(project, restored));
  for (std::size_t i = 1; i < states.size(); ++i) {
    ASSERT_TRUE(history.Redo(project, restored));
    ASSERT_EQ(Fingerprint(project), states[i]) << i;
  }
  EXPECT_FALSE(history.Redo(project, restored));
}

// A small project with one photo and one object, recorded as the start of the history.
struct Fixture {
  Project project;
  EditHistory history;
  RestoredPhotos restored;

  explicit Fixture(std::size_t limit = EditHistory::kDefaultStepLimit) : history(limit) {
    project.AddPhoto().SetPath("a.jpg");
    project.AddObject("Object").current = true;
    history.Reset(project);
  }
  void Add(int x, const char* name = "Add Point") {
    project.AddImagePoint(0, {x, 0});
    ASSERT_TRUE(history.Record(project, name));
  }
};

TEST(EditHistoryTest, NamesSavedStateAndRedoDroppedByANewEdit) {
  Fixture f;
  EXPECT_FALSE(f.history.CanUndo());
  EXPECT_EQ(f.history.UndoName(), "");
  EXPECT_FALSE(f.history.Record(f.project, "Nothing")) << "no change, no step";
  f.Add(1, "Add Point");
  f.Add(2, "Mark Point");
  f.history.MarkSaved();
  EXPECT_TRUE(f.history.AtSaved());
  ASSERT_TRUE(f.history.Undo(f.project, f.restored));
  EXPECT_FALSE(f.history.AtSaved());
  EXPECT_EQ(f.history.UndoName(), "Add Point");
  EXPECT_EQ(f.history.RedoName(), "Mark Point");
  ASSERT_TRUE(f.history.Redo(f.project, f.restored));
  EXPECT_TRUE(f.history.AtSaved()) << "back at the state saved";

  // Undo, then a new edit: the step undone cannot come back, and the state saved is gone for
  // good even though the new state has the same number of steps.
  ASSERT_TRUE(f.history.Undo(f.project, f.restored));
  f.Add(3, "Add Edge");
  EXPECT_FALSE(f.history.CanRedo());
  EXPECT_FALSE(f.history.AtSaved());
  EXPECT_EQ(f.history.undoCount(), 2u);
}

TEST(EditHistoryTest, KeepsTheNewestStepsWithinItsLimit) {
  Fixture f(3);
  for (int x = 1; x <= 5; ++x) f.Add(x);
  EXPECT_EQ(f.history.undoCount(), 3u);
  while (f.history.Undo(f.project, f.restored)) {
  }
  EXPECT_EQ(f.project.graph.positions.size(), 2u) << "the two oldest additions stay";

  // Lowering the limit with steps to redo keeps the nearest ones.
  f.history.SetStepLimit(1);
  EXPECT_EQ(f.history.redoCount(), 1u);
  ASSERT_TRUE(f.history.Redo(f.project, f.restored));
  EXPECT_EQ(f.project.graph.positions.size(), 3u);
}

TEST(EditHistoryTest, ChangesMadeAfterAStepBelongToIt) {
  Fixture f;
  f.Add(1);
  const std::int32_t id = f.project.graph.lastPositionId;
  // The 3D view computes coordinates after the edit; undo takes them back with it, and redo
  // gives them back.
  f.project.graph.positions.at(id).coords = {1, 2, 3};
  f.project.graph.positions.at(id).isComputed = true;
  const std::string computed = Fingerprint(f.project);
  ASSERT_TRUE(f.history.Undo(f.project, f.restored));
  EXPECT_TRUE(f.project.graph.positions.empty());
  ASSERT_TRUE(f.history.Redo(f.project, f.restored));
  EXPECT_EQ(Fingerprint(f.project), computed);
}

TEST(EditHistoryTest, PhotosUndoneAwayAreHandedBackWithTheirPictures) {
  Fixture f;
  f.project.photos[0]->levels.push_back(std::make_unique<images::DecodedImage>());
  f.project.AddPhoto().SetPath("b.jpg");
  f.project.photos[1]->levels.push_back(std::make_unique<images::DecodedImage>());
  ASSERT_TRUE(f.history.Record(f.project, "Load Images"));
  ASSERT_TRUE(f.history.Undo(f.project, f.restored));
  ASSERT_EQ(f.project.photos.size(), 1u);
  EXPECT_TRUE(f.project.photos[0]->HasImage()) << "a photo that stays keeps its picture";
  ASSERT_EQ(f.restored.removed.size(), 1u);
  EXPECT_TRUE(f.restored.removed[0]->HasImage());
  EXPECT_EQ(f.project.objects[0]->photoMeshes.size(), 1u);

  RestoredPhotos again;
  ASSERT_TRUE(f.history.Redo(f.project, again));
  EXPECT_EQ(again.needPictures, std::vector<std::size_t>{1});
  EXPECT_EQ(f.project.photos[1]->path, "b.jpg");
}

TEST(EditHistoryTest, StepsHoldWhatChangedNotTheWholeProject) {
  Project project;
  for (int i = 0; i < 4; ++i) project.AddPhoto().SetPath("p.jpg");
  Object& object = project.AddObject("Object");
  object.current = true;
  for (int i = 0; i < 2000; ++i) project.AddImagePoint(i % 4, {i, i});
  EditHistory history;
  history.Reset(project);
  for (int i = 0; i < 200; ++i) {
    project.MoveImagePoint(1 + i, 0, {i, 7});
    ASSERT_TRUE(history.Record(project, "Move Point"));
  }
  // 200 moves of one mark each: far less than the 2,000 positions and their object.
  EXPECT_LT(history.bytes(), 200u * 1024u);
}

}  // namespace
}  // namespace modrin::model
