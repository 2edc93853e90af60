#include "model/project.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace modrin::model {
namespace {

std::vector<std::string> Names(const Project& project) {
  std::vector<std::string> names;
  for (const auto& object : project.objects) names.push_back(object->name);
  return names;
}

Object& AddCurrentObject(Project& project, const std::string& name) {
  Object& object = project.AddObject(name);
  object.current = true;
  return object;
}

TEST(ProjectTest, AddObjectAppendsTheRequestedNamePlusTheFirstFreeCounter) {
  Project project;
  for (const char* name : {"Object", "Object", "Object", "Object1", "object", "Object"}) {
    project.AddObject(name);
  }
  EXPECT_EQ(Names(project), (std::vector<std::string>{"Object", "Object1", "Object2", "Object11",
                                                      "object", "Object3"}));
  const Object& added = *project.objects.back();
  EXPECT_FALSE(added.current);
  EXPECT_TRUE(added.positionIds.empty());
  EXPECT_EQ(added.graph, &project.graph);

  project.RemoveObject("Object1");
  project.RemoveObject("Nothing");
  EXPECT_EQ(project.AddObject("Object").name, "Object1");  // a freed name is handed out again
  EXPECT_EQ(Names(project), (std::vector<std::string>{"Object", "Object2", "Object11", "object",
                                                      "Object3", "Object1"}));

  // Only the first of two equal names goes.
  project.objects[0]->name = "Twin";
  project.objects[1]->name = "Twin";
  const Object* second = project.objects[1].get();
  project.RemoveObject("Twin");
  ASSERT_EQ(project.objects.size(), 5u);
  EXPECT_EQ(project.objects[0].get(), second);
}

TEST(ProjectTest, EveryObjectHasOneMeshPerPhoto) {
  Project project;
  Object& early = project.AddObject("Early");
  EXPECT_TRUE(early.photoMeshes.empty());
  EXPECT_FALSE(project.AddPhoto().HasImage());
  project.AddPhoto();
  Object& late = project.AddObject("Late");
  project.AddPhoto();
  for (const Object* object : {&early, &late}) {
    ASSERT_EQ(object->photoMeshes.size(), 3u);
    for (const auto& mesh : object->photoMeshes) EXPECT_NE(mesh, nullptr);
  }

  // Clear empties objects and photos but leaves positions to the file reader.
  const std::int32_t id = project.AddImagePoint(0, {1, 1});
  project.Clear();
  EXPECT_TRUE(project.objects.empty());
  EXPECT_TRUE(project.photos.empty());
  EXPECT_TRUE(project.graph.positions.contains(id));
}

TEST(ProjectTest, AddImagePointReusesTheExactPixelAndJoinsNewPositionsToCurrentObjects) {
  Project project;
  Object& current = AddCurrentObject(project, "Current");
  Object& other = project.AddObject("Other");

  const std::int32_t p = project.AddImagePoint(0, {5, 5});
  EXPECT_EQ(p, 1);
  EXPECT_TRUE(current.Contains(p));
  EXPECT_FALSE(other.Contains(p));

  project.graph.positions.at(p).isComputed = true;
  EXPECT_EQ(project.AddImagePoint(0, {5, 5}), p);
  EXPECT_FALSE(project.graph.positions.at(p).isComputed);
  EXPECT_EQ(project.AddImagePoint(0, {5, 6}), 2);
  EXPECT_EQ(project.AddImagePoint(1, {5, 5}), 3);  // a point in another photo is no match

  // Any position at the pixel is reused, whatever its objects, and joins none by it.
  std::int32_t loose = -1;
  project.graph.NewPosition(loose);
  project.graph.SetImagePoint(loose, 0, {7, 7});
  EXPECT_EQ(project.AddImagePoint(0, {7, 7}), loose);
  EXPECT_FALSE(current.Contains(loose));

  project.graph.lastPositionId = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(project.AddImagePoint(0, {9, 9}), -1);
  EXPECT_EQ(project.AddImagePoint(0, {5, 5}), p);
  EXPECT_EQ(current.positionIds, (std::set<std::int32_t>{1, 2, 3}));
}

TEST(ProjectTest, ErasedPositionsLeaveCurrentObjectsOnly) {
  Project project;
  Object& current = AddCurrentObject(project, "Current");
  Object& other = project.AddObject("Other");
  const std::int32_t a = project.AddImagePoint(0, {1, 1});
  const std::int32_t b = project.AddImagePoint(0, {2, 2});
  const std::int32_t c = project.AddImagePoint(0, {3, 3});
  ASSERT_TRUE(project.MoveImagePoint(a, 1, {1, 1}));  // a is marked in a second photo too
  EXPECT_FALSE(project.MoveImagePoint(42, 1, {1, 1}));
  for (std::int32_t id : {a, b, c}) other.AddPosition(id);

  EXPECT_FALSE(project.RemoveImagePoint(42, 0));
  EXPECT_TRUE(project.RemoveImagePoint(a, 0));
  EXPECT_TRUE(current.Contains(a));
  EXPECT_TRUE(project.RemoveImagePoint(a, 1));
  EXPECT_FALSE(project.graph.positions.contains(a));
  EXPECT_FALSE(current.Contains(a));
  EXPECT_TRUE(other.Contains(a));

  EXPECT_TRUE(project.MergePositions(b, b));
  EXPECT_TRUE(current.Contains(b));
  // A failed merge still takes `from` out of the current objects.
  EXPECT_FALSE(project.MergePositions(b, 99));
  EXPECT_TRUE(project.graph.positions.contains(b));
  EXPECT_FALSE(current.Contains(b));
  current.AddPosition(b);
  EXPECT_TRUE(project.MergePositions(b, c));
  EXPECT_FALSE(current.Contains(b));
  EXPECT_TRUE(current.Contains(c));
  EXPECT_EQ(other.positionIds, (std::set<std::int32_t>{a, b, c}));
}

TEST(ProjectTest, AddEdgeFindsOrMakesTheEdge) {
  Project project;
  EXPECT_EQ(project.AddEdge(3, 3), -1);
  EXPECT_EQ(project.graph.lastEdgeId, 0);
  EXPECT_EQ(project.AddEdge(5, 2), 1);
  EXPECT_EQ(project.AddEdge(2, 5), 1);
  project.graph.edges[9] = Edge{8, 6};  // as the file reader leaves it
  project.graph.lastEdgeId = 9;
  EXPECT_EQ(project.AddEdge(6, 8), 9);
  EXPECT_TRUE(project.DeleteEdge(9));
  EXPECT_EQ(project.AddEdge(6, 8), 10);

  std::int32_t edge = 1;
  EXPECT_TRUE(project.SplitEdge(edge, 4));
  EXPECT_EQ(edge, -1);
  EXPECT_EQ(project.AddEdge(2, 4), 11);
  EXPECT_EQ(project.AddEdge(5, 4), 12);
}

TEST(ProjectTest, PickingInCurrentObjectsSkipsOtherMatches) {
  Project project;
  const std::int32_t left = project.AddImagePoint(0, {0, 0});
  Object& current = AddCurrentObject(project, "Current");
  const std::int32_t middle = project.AddImagePoint(0, {10, 0});
  const std::int32_t right = project.AddImagePoint(0, {20, 0});
  const std::int32_t nearLeft = project.AddImagePoint(0, {1, 0});
  ASSERT_FALSE(current.Contains(left));

  std::int32_t id = -1;
  EXPECT_TRUE(project.FindPositionInCurrentObject(0, 2, {0, 0}, id));
  EXPECT_EQ(id, nearLeft);
  EXPECT_FALSE(project.FindPositionInCurrentObject(0, 2, {0, 0}, id));
  EXPECT_EQ(id, nearLeft);

  project.AddEdge(left, middle);  // matches first, but `left` is in no current object
  const std::int32_t inner = project.AddEdge(middle, right);
  id = -1;
  EXPECT_TRUE(project.FindEdgeInCurrentObject(0, 1, {10, 0}, id));
  EXPECT_EQ(id, inner);
  EXPECT_FALSE(project.FindEdgeInCurrentObject(0, 1, {10, 0}, id));
  EXPECT_EQ(id, inner);
}

// Ids come from files as written, negative ones too; -1 is also "from the lowest id". Picking
// over such ids must end, and still find a current match among them.
TEST(ProjectTest, PickingEndsOverNegativeIdsOnOnePixel) {
  Project project;
  PositionGraph& graph = project.graph;
  for (std::int32_t id : {-5, -1, 3}) graph.positions[id].imagePoints[0] = {4, 4};
  graph.positions[-7].imagePoints[0] = {0, 0};
  graph.positions[-2].imagePoints[0] = {8, 8};
  graph.edges = {{-3, {-7, -2}}, {-1, {-7, -2}}, {2, {-7, -2}}};
  Object& object = AddCurrentObject(project, "Current");

  std::int32_t id = -1;
  EXPECT_FALSE(project.FindPositionInCurrentObject(0, 0, {4, 4}, id));
  EXPECT_EQ(id, -1);
  EXPECT_FALSE(project.FindEdgeInCurrentObject(0, 1, {4, 4}, id));
  EXPECT_EQ(id, -1);

  object.AddPosition(-1);
  EXPECT_TRUE(project.FindPositionInCurrentObject(0, 0, {4, 4}, id));
  EXPECT_EQ(id, -1);
  // From -1 the walk starts again at the lowest id and finds -1 once more.
  EXPECT_TRUE(project.FindPositionInCurrentObject(0, 0, {4, 4}, id));
  EXPECT_EQ(id, -1);

  object.AddPosition(-7);
  object.AddPosition(-2);
  id = -1;
  EXPECT_TRUE(project.FindEdgeInCurrentObject(0, 1, {4, 4}, id));
  EXPECT_EQ(id, 2);  // an existing id -1 starts after itself, so -3 and -1 are passed over
  id = -5;
  EXPECT_TRUE(project.FindEdgeInCurrentObject(0, 1, {4, 4}, id));
  EXPECT_EQ(id, -3);
}

TEST(ProjectTest, NextStepAdviceStopsAtTheFirstMissingStep) {
  Project project;
  auto expectAdvice = [&](std::int32_t photo, int step, const std::string& text,
                          const std::string& topic) {
    const StepAdvice advice = project.NextStepAdvice(photo);
    EXPECT_EQ(advice.step, step);
    EXPECT_EQ(advice.text, text);
    EXPECT_EQ(advice.helpTopic, topic);
  };
  const std::string notCalibrated = "Image not calibrated. Run the calibration process";
  const std::string calibrationTopic = "GettingStarted.html#CalibrationStep";

  project.AddObject("Roof");
  expectAdvice(0, 1, "No Image. First add images to the project",
               "GettingStarted.html#ModelingStep");
  project.RemoveObject("Roof");
  project.AddPhoto();
  expectAdvice(0, 2, "No Object. Add an object in the Object List", "ObjectList.html");
  Object& wall = project.AddObject("Wall");
  expectAdvice(0, 3, "0 of at least 3 points with real coordinates are marked in this photo",
               calibrationTopic);
  project.photos[0]->camera.calibrated = true;
  expectAdvice(1, 3, notCalibrated, calibrationTopic);
  expectAdvice(0, 2, "No Object selected. Select an object in the Object List", "ObjectList.html");

  // Real positions count only in current objects.
  const std::int32_t real = project.AddImagePoint(0, {1, 1});
  project.graph.SetRealCoords(real, {0, 0, 0});
  wall.AddPosition(real);
  Object& door = AddCurrentObject(project, "Door");
  door.AddPosition(project.AddImagePoint(0, {2, 2}));
  expectAdvice(0, 3, "No vertex with real coordinate. Add real coordinates to at least 3 vertices",
               calibrationTopic);
  door.AddPosition(real);
  expectAdvice(0, 0, "", "2Dviews.html");
}

TEST(ProjectTest, NextStepAdviceCountsThePointsAnUncalibratedPhotoLacks) {
  // Photo 0 is uncalibrated and photo 1 calibrated. A position seen by photo 1 too is computed
  // from it; the others are seen by photo 0 alone (`real` in photo 1 counts for photo 1 only).
  struct Case {
    int real;                      // real positions marked in photo 0
    int computedSeenByCalibrated;  // computed positions marked in photos 0 and 1
    int computedSeenAlone;         // computed positions marked in photo 0 only
    int realElsewhere;             // real positions marked in photo 1 only
    const char* advice;
  };
  const char* notCalibrated = "Image not calibrated. Run the calibration process";
  const Case cases[] = {
      {0, 0, 0, 3, "0 of at least 3 points with real coordinates are marked in this photo"},
      {2, 0, 5, 0, "2 of at least 3 points with real coordinates are marked in this photo"},
      {3, 0, 0, 0, notCalibrated},
      // With fewer than two real positions the calibration borrows computed ones that a
      // calibrated photo sees; with two it does not.
      {1, 2, 0, 0, notCalibrated},
      {0, 2, 0, 0, "0 of at least 3 points with real coordinates are marked in this photo"},
      {1, 1, 4, 0, "1 of at least 3 points with real coordinates are marked in this photo"},
      {2, 4, 0, 0, "2 of at least 3 points with real coordinates are marked in this photo"},
  };
  for (const Case& c : cases) {
    Project project;
    project.AddPhoto();
    project.AddPhoto().camera.calibrated = true;
    AddCurrentObject(project, "Wall");
    std::int32_t x = 0;
    const auto mark = [&](int count, std::vector<std::int32_t> photos, bool real) {
      for (int i = 0; i < count; ++i, ++x) {
        std::int32_t id = -1;
        for (const std::int32_t photo : photos) {
          if (id == -1) {
            id = project.AddImagePoint(photo, {x, 0});
          } else {
            project.graph.SetImagePoint(id, photo, {x, 0});
          }
        }
        if (real) project.graph.SetRealCoords(id, {double(x), 0, 1});
        project.graph.positions.at(id).isComputed = !real;
      }
    };
    mark(c.real, {0}, true);
    mark(c.computedSeenByCalibrated, {0, 1}, false);
    mark(c.computedSeenAlone, {0}, false);
    mark(c.realElsewhere, {1}, true);
    const StepAdvice advice = project.NextStepAdvice(0);
    EXPECT_EQ(advice.text, c.advice) << c.real << " " << c.computedSeenByCalibrated;
    EXPECT_EQ(advice.step, 3);
    EXPECT_EQ(advice.helpTopic, "GettingStarted.html#CalibrationStep");
  }
}

}  // namespace
}  // namespace modrin::model
