#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "images/camera_database.h"
#include "model/object.h"
#include "model/photo.h"
#include "model/position_graph.h"

namespace modrin::images {
class TextScanner;
}

namespace modrin::model {

// What a help request in a photo view advises: the next step of the work and its help topic.
struct StepAdvice {
  int step = 0;
  std::string text;
  std::string helpTopic;
};

// The project file writes an object's name between double quotes, so a name holds none.
bool IsStorableObjectName(std::string_view name);
// `name` with each double quote made a single quote.
std::string StorableObjectName(std::string name);

// The user's whole work: photos, positions and edges, objects, and the camera database.
// Operations look up every id they are given and report failure only through their results.
class Project {
 public:
  Project() : graph(photos) {}
  Project(const Project&) = delete;
  Project& operator=(const Project&) = delete;
  ~Project();

  Photo& AddPhoto();
  // Appends an object named `name` (made storable), or that followed by the smallest counter
  // that makes it unique among the other objects.
  Object& AddObject(const std::string& name);
  // Gives `object` the name `name`, which need not be unique. False, the name unchanged, when
  // the project file could not hold it (IsStorableObjectName).
  bool RenameObject(Object& object, const std::string& name);
  void RemoveObject(const std::string& name);
  // Removes all objects, then all photos; positions and edges stay.
  void Clear();

  // Marks `point` in `photo`: the position already marked exactly there, or a new one that
  // joins every current object. -1 only when position ids are used up.
  std::int32_t AddImagePoint(std::int32_t photo, const ImagePoint& point);
  bool MoveImagePoint(std::int32_t id, std::int32_t photo, const ImagePoint& point);
  bool RemoveImagePoint(std::int32_t id, std::int32_t photo);
  bool MergePositions(std::int32_t from, std::int32_t into);
  // The edge joining a and b, made if needed; -1 when a == b.
  std::int32_t AddEdge(std::int32_t a, std::int32_t b);
  bool DeleteEdge(std::int32_t id);
  bool SplitEdge(std::int32_t& edgeId, std::int32_t positionId);
  bool IsInCurrentObject(std::int32_t id) const;
  bool FindPositionInCurrentObject(std::int32_t photo, std::int32_t tolerance,
                                   const ImagePoint& point, std::int32_t& id) const;
  bool FindEdgeInCurrentObject(std::int32_t photo, std::int32_t tolerance, const ImagePoint& point,
                               std::int32_t& id) const;
  // What F1 in the view of `photo` advises: the first missing step of the work. An uncalibrated
  // photo with fewer calibration positions than a pose needs is told how many it has.
  StepAdvice NextStepAdvice(std::int32_t photo) const;

  // The positions a calibration of `photo` goes by, in id order: the real positions marked in
  // it and, when fewer than two are and `borrowComputed`, also the computed positions marked in
  // it that a calibrated photo sees as well. Positions without coordinates are never among them.
  std::vector<std::int32_t> CalibrationPositions(std::int32_t photo, bool borrowComputed) const;

  // The project file body after the header line. Write returns the text; Read parses it with
  // the grammar of `version` (below 3.0: the older two-photo format). Read returns false when
  // the file is refused for its size (see ReadProject); the project is then partly filled.
  std::string Write() const;
  bool Read(images::TextScanner& in, float version);

  std::vector<std::unique_ptr<Photo>> photos;
  PositionGraph graph;
  std::vector<std::unique_ptr<Object>> objects;
  images::CameraDatabase cameraDatabase;

 private:
  void RemoveFromCurrentObjects(std::int32_t id);
};

}  // namespace modrin::model
