// Undo and redo on the large benchmark project (2,025 positions in 20 photos): recording an
// edit, and giving one step back, for a one-mark edit and for one that changes every position.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "grid_project.h"
#include "model/edit_history.h"
#include "model/project.h"

namespace {

using modrin::model::EditHistory;
using modrin::model::Project;
using modrin::model::RestoredPhotos;

// A mark moved, as a drag in a photo view ends.
void MoveOneMark(Project& project, int i) {
  project.MoveImagePoint(1 + i % 2000, 0, {i % 1000, 7});
}

// Every position given new coordinates, as a calibration's OK or a refinement does.
void MoveEveryPosition(Project& project, int i) {
  for (auto& [id, position] : project.graph.positions) position.coords[0] += 0.001 * (i + 1);
}

// The time of Record after one edit (the edit itself is a few microseconds of it).
template <void (*Edit)(Project&, int)>
void BM_RecordStep(benchmark::State& state) {
  Project project;
  modrin::testing::FillProject(project);
  EditHistory history;
  history.Reset(project);
  int i = 0;
  for (auto _ : state) {
    Edit(project, i++);
    benchmark::DoNotOptimize(history.Record(project, "Edit"));
  }
  state.counters["positions"] = static_cast<double>(project.graph.positions.size());
  state.counters["step_bytes"] = static_cast<double>(history.bytes() / history.undoCount());
}
BENCHMARK(BM_RecordStep<MoveOneMark>)->Name("BM_RecordMovePoint")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordStep<MoveEveryPosition>)
    ->Name("BM_RecordCalibration")
    ->Unit(benchmark::kMicrosecond);

// One undo or one redo per iteration, in turn, of a step recorded beforehand.
template <void (*Edit)(Project&, int)>
void BM_UndoStep(benchmark::State& state) {
  Project project;
  modrin::testing::FillProject(project);
  EditHistory history;
  history.Reset(project);
  Edit(project, 0);
  history.Record(project, "Edit");
  RestoredPhotos restored;
  bool undo = true;
  for (auto _ : state) {
    benchmark::DoNotOptimize(undo ? history.Undo(project, restored)
                                  : history.Redo(project, restored));
    undo = !undo;
  }
  state.counters["positions"] = static_cast<double>(project.graph.positions.size());
}
BENCHMARK(BM_UndoStep<MoveOneMark>)->Name("BM_UndoMovePoint")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UndoStep<MoveEveryPosition>)
    ->Name("BM_UndoCalibration")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
