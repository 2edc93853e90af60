// Writing and reading large project files.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "model/project.h"
#include "model/project_file.h"

namespace {

using modrin::model::Project;

// A project of `positions` positions marked in four of `photos` photos each, as many edges
// as positions times two, and ten objects.
void FillProject(Project& project, int positions, int photos) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> pixel(0, 6000);
  for (int p = 0; p < photos; ++p) {
    project.AddPhoto().SetPath("/home/user/shoot/IMG_" + std::to_string(1000 + p) + ".JPG");
  }
  for (int i = 0; i < positions; ++i) {
    std::int32_t id = 0;
    project.graph.NewPosition(id);
    for (int k = 0; k < 4; ++k) {
      project.graph.SetImagePoint(id, (i + k * 3) % photos, {pixel(random), pixel(random)});
    }
    if (i % 3 == 0) project.graph.SetRealCoords(id, {i * 0.25, i * 0.5, 1.75});
  }
  // Edges go straight into the graph: each AddEdge looks through every edge for the pair.
  auto& graph = project.graph;
  for (int i = 1; i < positions; ++i) {
    graph.edges[++graph.lastEdgeId] = {i, i + 1};
    if (i + 7 <= positions) graph.edges[++graph.lastEdgeId] = {i, i + 7};
  }
  for (int o = 0; o < 10; ++o) {
    auto& object = project.AddObject("Object");
    for (int i = o + 1; i <= positions; i += 10) object.AddPosition(i);
  }
}

void BM_WriteProject(benchmark::State& state) {
  Project project;
  FillProject(project, static_cast<int>(state.range(0)), 20);
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text = modrin::model::WriteProjectText(project);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_WriteProject)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_ReadProject(benchmark::State& state) {
  Project source;
  FillProject(source, static_cast<int>(state.range(0)), 20);
  const std::string text = modrin::model::WriteProjectText(source);
  for (auto _ : state) {
    Project project;
    benchmark::DoNotOptimize(modrin::model::ReadProjectText(project, text));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadProject)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The same from a file, read as a stream as opening a project does.
void BM_ReadProjectFile(benchmark::State& state) {
  Project source;
  FillProject(source, static_cast<int>(state.range(0)), 20);
  const std::string text = modrin::model::WriteProjectText(source);
  const std::string path = std::filesystem::temp_directory_path() / "modrin_read_benchmark.mpj";
  {
    std::ofstream file(path, std::ios::binary);
    file << text;
  }
  for (auto _ : state) {
    Project project;
    std::string error;
    benchmark::DoNotOptimize(modrin::model::ReadProjectFile(project, path, error));
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadProjectFile)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace
