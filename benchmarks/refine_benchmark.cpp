// The joint refinement of 20 photos of 6000 x 4000 pixels and 2,000 computed positions, each
// marked in every photo with 0.3 pixels of noise (40,000 marks), from poses 1 cm off the truth.
#include <benchmark/benchmark.h>

#include <random>

#include "engine/bundle_adjustment.h"
#include "scene_project.h"

namespace {

using modrin::engine::Vec3;

void FillScene(modrin::testing::SceneProject& scene) {
  modrin::testing::AddRing(scene, 20);
  std::mt19937 random(20);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<int> all;
  for (int p = 0; p < 20; ++p) all.push_back(p);
  for (const double x : {0.0, 10.0}) {
    for (const double y : {0.0, 8.0}) {
      for (const double z : {0.0, 5.0}) scene.Mark({x, y, z}, all, true, &random, 0.3);
    }
  }
  for (int i = 0; i < 2000; ++i) {
    scene.Mark({10 * unit(random), 8 * unit(random), 5 * unit(random)}, all, false, &random, 0.3);
  }
  scene.UseTruePoses();
  for (auto& photo : scene.project.photos) {
    photo->camera.translation = photo->camera.translation + Vec3{0.01, -0.01, 0.01};
  }
}

void BM_Refine20Photos2000Positions(benchmark::State& state) {
  modrin::testing::SceneProject scene(6000, 4000);
  FillScene(scene);
  for (auto _ : state) {
    const modrin::engine::RefineResult result = modrin::engine::Refine(scene.project);
    if (!result.ok) state.SkipWithError(result.message.c_str());
    benchmark::DoNotOptimize(result);
  }
}

BENCHMARK(BM_Refine20Photos2000Positions)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
