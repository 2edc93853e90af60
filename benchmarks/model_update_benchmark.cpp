// The model update of a large project: face finding, and every object's mesh in every photo.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/face_finder.h"
#include "mesh/mesh_builder.h"
#include "model/project.h"

namespace {

using modrin::model::Project;

constexpr int kSide = 45;  // 2,025 positions and 3,960 edges
constexpr int kPhotos = 20;

// A grid of quads with known coordinates seen by `kPhotos` photos. Each photo shows a 30 x 30
// window of the grid at its own scale and offset, with a pixel or two of jitter and a few
// positions left unmarked, so the photo where a face looks largest differs from face to face.
// One object holds every position.
void FillProject(Project& project) {
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

void Count(benchmark::State& state, const Project& project) {
  std::size_t vertices = 0, triangles = 0;
  for (const auto& mesh : project.objects.front()->photoMeshes) {
    vertices += mesh->vertices().size();
    triangles += mesh->triangleCount();
  }
  state.counters["positions"] = static_cast<double>(project.graph.positions.size());
  state.counters["vertices"] = static_cast<double>(vertices);
  state.counters["triangles"] = static_cast<double>(triangles);
}

// Face finding alone: the adjacency and the faces of every photo.
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

// The meshes alone, from the faces of all photos found beforehand.
void BM_BuildAllMeshes(benchmark::State& state) {
  Project project;
  FillProject(project);
  modrin::engine::FaceFinder finder(project.graph);
  finder.BuildAdjacency();
  for (int p = 0; p < kPhotos; ++p) finder.FindFaces(p);
  for (auto _ : state) {
    for (int p = 0; p < kPhotos; ++p) {
      for (auto& object : project.objects) {
        modrin::mesh::BuildObjectPhotoMesh(*object, p, finder.faces);
      }
    }
    benchmark::ClobberMemory();
  }
  Count(state, project);
  state.counters["faces"] = static_cast<double>(finder.faces.size());
}
BENCHMARK(BM_BuildAllMeshes)->Unit(benchmark::kMillisecond);

// The whole model update: coordinates, faces and meshes, on one thread and on one per core
// (the meshes of a photo are built while later photos' faces are found).
void BM_UpdateModelWithMeshes(benchmark::State& state) {
  Project project;
  FillProject(project);
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    modrin::mesh::UpdateModelWithMeshes(project, threads);
    benchmark::ClobberMemory();
  }
  Count(state, project);
}
BENCHMARK(BM_UpdateModelWithMeshes)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
