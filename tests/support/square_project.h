#pragma once

#include <memory>
#include <string>
#include <vector>

#include "images/decoded_image.h"
#include "model/project.h"

namespace modrin::testing {

// A project with two photos (100 x 80 pixels; the first stored with a Windows path, the second
// without folder or extension) and a unit square with real corners, marked with its four
// edges in the first photo only. Every object named is current and holds the square.
class SquareProject {
 public:
  explicit SquareProject(const std::vector<std::string>& objectNames) {
    for (const char* path : {"C:\\photos\\front.jpg", "back"}) {
      model::Photo& photo = project.AddPhoto();
      photo.path = path;
      photo.levels.push_back(
          std::make_unique<images::DecodedImage>(images::DecodedImage::Filled(100, 80, 128)));
    }
    for (const std::string& name : objectNames) project.AddObject(name).current = true;
    const model::ImagePoint pixels[4] = {{10, 10}, {60, 12}, {58, 50}, {12, 48}};
    const model::PositionGraph::Coords coords[4] = {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}};
    std::int32_t ids[4];
    for (int i = 0; i < 4; ++i) {
      ids[i] = project.AddImagePoint(0, pixels[i]);
      project.graph.SetRealCoords(ids[i], coords[i]);
    }
    for (int i = 0; i < 4; ++i) project.AddEdge(ids[i], ids[(i + 1) % 4]);
  }

  model::Project project;
};

}  // namespace modrin::testing
