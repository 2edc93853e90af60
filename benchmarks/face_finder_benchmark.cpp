// Face finding of a model update: the adjacency and the faces of every photo.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "engine/face_finder.h"
#include "model/project.h"

namespace {

using modrin::model::Project;

constexpr int kSide = 45;  // 2,025 positions and 3,960 edges
constexpr int kPhotos = 20;

// A grid of quads seen by `kPhotos` photos. Each photo shows a 30 x 30 window of the grid at
// its own scale and offset, with a pixel or two of jitter and a few positions left unmarked,
// so the photo where a face looks largest differs from face to face.
void FillProject(Project& project) {
  for (int q = 0; q < kPhotos; ++q) project.AddPhoto();
  auto& graph = project.graph;
  for (int row = 0; row < kSide; ++row) {
    for (int col = 0; col < kSide; ++col) {
      std::int32_t id = 0;
      graph.NewPosition(id);
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
      std::int32_t edge = 0;
      if (col + 1 < kSide) graph.CreateEdge(id, id + 1, edge);
      if (row + 1 < kSide) graph.CreateEdge(id, id + kSide, edge);
    }
  }
}

void BM_FindFacesAllPhotos(benchmark::State& state) {
  Project project;
  FillProject(project);
  std::size_t faces = 0;
  for (auto _ : state) {
    modrin::engine::FaceFinder finder(project.graph);
    finder.BuildAdjacency();
    for (int p = 0; p < kPhotos; ++p) finder.FindFaces(p);
    faces = finder.faces.size();
    benchmark::DoNotOptimize(faces);
  }
  state.counters["positions"] = static_cast<double>(project.graph.positions.size());
  state.counters["edges"] = static_cast<double>(project.graph.edges.size());
  state.counters["faces"] = static_cast<double>(faces);
}
BENCHMARK(BM_FindFacesAllPhotos)->Unit(benchmark::kMillisecond);

}  // namespace
