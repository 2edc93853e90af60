// Writing the house sample's model as glTF: the .glb with the six photos at full size, and the
// web export's .glb with shrunk textures.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/reconstruction.h"
#include "export/gltf_writer.h"
#include "mesh/mesh_builder.h"
#include "model/project.h"
#include "model/project_document.h"

namespace {

// The house sample, every photo calibrated, with its meshes; opened once.
const modrin::model::Project& House() {
  static modrin::model::DocumentHost host;
  static modrin::model::ProjectDocument* document = [] {
    auto* opened = new modrin::model::ProjectDocument(host);
    if (!opened->OpenPath(MODRIN_HOUSE_SAMPLE).ok()) std::abort();
    for (auto& photo : opened->project().photos) photo->camera.pending = true;
    modrin::engine::RunCalibration(opened->project());
    modrin::mesh::UpdateModelWithMeshes(opened->project());
    return opened;
  }();
  return document->project();
}

// The whole file write: the model, the photos' JPEG bytes read and embedded, the file replaced.
void BM_WriteHouseGlb(benchmark::State& state) {
  const modrin::model::Project& house = House();
  const std::string path =
      (std::filesystem::temp_directory_path() / "modrin-benchmark-house.glb").string();
  for (auto _ : state) {
    if (!modrin::exporters::WriteGltfModel(house, path).ok) state.SkipWithError("write failed");
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
  std::filesystem::remove(path);
}
BENCHMARK(BM_WriteHouseGlb)->Unit(benchmark::kMillisecond);

// The web page's model in memory: every photo shrunk to 256 x 256 and encoded at quality 80.
void BM_BuildHouseWebGlb(benchmark::State& state) {
  const modrin::model::Project& house = House();
  std::size_t bytes = 0;
  for (auto _ : state) {
    modrin::exporters::GltfFiles files;
    if (!modrin::exporters::BuildGltf(house, true, {256, 80, true}, ".", "", files).ok) {
      state.SkipWithError("build failed");
    }
    bytes = files.main.size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_BuildHouseWebGlb)->Unit(benchmark::kMillisecond);

}  // namespace
