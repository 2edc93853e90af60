// The pose search of one photo: the six-point scene and a seeded 30-point scene, on one thread
// and on every core. The result is the same either way; only the time differs.
#include <benchmark/benchmark.h>

#include <random>

#include "engine/calibration.h"
#include "synthetic_scene.h"

namespace {

using modrin::engine::CameraRecord;

CameraRecord SixPointScene() {
  const CameraRecord truth = modrin::testing::MakeCamera(0.05, {-8, -6, 3}, {0.3, 0.05, 0.8});
  CameraRecord camera = truth;
  camera.correspondences = modrin::testing::Marks(
      truth, {{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {0, 3, 0}, {2, 1.5, 2}, {1, 2, 1}}, false);
  return camera;
}

CameraRecord ThirtyPointScene() {
  std::mt19937 random(30);
  const modrin::testing::SyntheticView view = modrin::testing::RandomView(random, 30);
  CameraRecord camera = view.truth;
  camera.correspondences = modrin::testing::Marks(view.truth, view.points, true);
  return camera;
}

// state.range(0): threads (0: one per core); state.range(1): polish on or off.
void RunCalibrate(benchmark::State& state, const CameraRecord& scene) {
  const modrin::engine::CalibrationOptions options{nullptr, state.range(1) != 0,
                                                   static_cast<int>(state.range(0))};
  for (auto _ : state) {
    CameraRecord camera = scene;
    benchmark::DoNotOptimize(modrin::engine::Calibrate(camera, "bench", options));
  }
}

void BM_CalibrateSixPoints(benchmark::State& state) { RunCalibrate(state, SixPointScene()); }
void BM_CalibrateThirtyPoints(benchmark::State& state) { RunCalibrate(state, ThirtyPointScene()); }

BENCHMARK(BM_CalibrateSixPoints)
    ->ArgNames({"threads", "polish"})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_CalibrateThirtyPoints)
    ->ArgNames({"threads", "polish"})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
