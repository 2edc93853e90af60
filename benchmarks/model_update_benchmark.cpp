// The model update of a large project: face finding, and every object's mesh in every photo.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/face_finder.h"
#include "grid_project.h"
#include "mesh/mesh_builder.h"
#include "model/project.h"

namespace {

using modrin::model::Project;
using modrin::testing::FillProject;
using modrin::testing::kPhotos;

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
