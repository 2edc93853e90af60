#pragma once

// The large project the model update and the 3D view are measured on, and whose meshes a test
// pins.

#include <cstdint>
#include <memory>

#include "images/decoded_image.h"
#include "model/object.h"
#include "model/project.h"

namespace modrin::testing {

constexpr int kSide = 45;  // 2,025 positions and 3,960 edges
constexpr int kPhotos = 20;

// A grid of quads with known coordinates seen by `kPhotos` photos. Each photo shows a 30 x 30
// window of the grid at its own scale and offset, with a pixel or two of jitter and a few
// positions left unmarked, so the photo where a face looks largest differs from face to face.
// One object holds every position.
inline void FillProject(model::Project& project) {
  for (int q = 0; q < kPhotos; ++q) {
    // Only the picture's size matters to the builder; leaving out the pixels keeps the
    // benchmark small.
    auto picture = std::make_unique<modrin::images::DecodedImage>();
    picture->width = 2000;
    picture->height = 1600;
    project.AddPhoto().levels.push_back(std::move(picture));
  }
  modrin::model::Object& object = project.AddObject("Grid");
  auto& graph = project.graph;
  for (int row = 0; row < kSide; ++row) {
    for (int col = 0; col < kSide; ++col) {
      std::int32_t id = 0;
      graph.NewPosition(id);
      graph.SetRealCoords(id, {0.5 * col, 0.0, 0.5 * row});
      object.AddPosition(id);
      for (int q = 0; q < kPhotos; ++q) {
        const int col0 = q * 7 % 16, row0 = q * 11 % 16;
        if (col < col0 || col >= col0 + 30 || row < row0 || row >= row0 + 30) continue;
        if ((id * 31 + q * 17) % 23 == 0) continue;
        const int scale = 20 + q * 13 % 17;
        graph.SetImagePoint(id, q,
                            {100 + 37 * q + scale * (col - col0) + (row * q + col) % 3,
                             50 + 23 * q + scale * (row - row0) + (col * q + row) % 3});
      }
    }
  }
  for (int row = 0; row < kSide; ++row) {
    for (int col = 0; col < kSide; ++col) {
      const std::int32_t id = row * kSide + col + 1;
      if (col + 1 < kSide) project.AddEdge(id, id + 1);
      if (row + 1 < kSide) project.AddEdge(id, id + kSide);
    }
  }
}

}  // namespace modrin::testing
