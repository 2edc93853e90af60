// The 3D view under load: the update that follows every edit (model update, arrays, display
// lists, one frame drawn) on the 2,025-position project, and the frame time while the user turns
// the house. Needs a display with OpenGL (run it under xvfb-run for Mesa's software renderer);
// on the offscreen platform only the arrays are measured. The frames report the size of the
// view they draw (the frame's toolbar takes its share of the window).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QWindow>
#include <memory>

#include "engine/reconstruction.h"
#include "grid_project.h"
#include "mesh/mesh_builder.h"
#include "model/project_document.h"
#include "views3d/model_scene.h"
#include "views3d/ogl.h"
#include "views3d/ogl_frame.h"

namespace {

using modrin::views3d::Ogl;
using modrin::views3d::OglFrame;

// The grid project with every photo's pixels, so each gets a texture, and its object shown.
std::unique_ptr<modrin::model::Project> TexturedGrid() {
  auto project = std::make_unique<modrin::model::Project>();
  modrin::testing::FillProject(*project);
  for (auto& photo : project->photos) {
    auto& picture = *photo->levels.front();
    picture.pixels.assign(picture.stride() * static_cast<std::size_t>(picture.height), 120);
  }
  project->objects.front()->current = true;
  return project;
}

// Draws the view as the event loop does (drawn, composed into the window, put on the screen)
// and waits until the renderer has finished the frame.
void DrawFrame(Ogl& view) {
  view.update();
  QApplication::processEvents();
  view.makeCurrent();
  view.context()->functions()->glFinish();
  view.doneCurrent();
}

// Shows the frame and waits until the window system has put it on the screen.
void Show(OglFrame& frame, int width, int height) {
  frame.resize(width, height);
  frame.show();
  QElapsedTimer waited;
  waited.start();
  while (!(frame.windowHandle() != nullptr && frame.windowHandle()->isExposed()) &&
         waited.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  QApplication::processEvents();
}

bool HasOpenGL(benchmark::State& state) {
  if (QGuiApplication::platformName() == "offscreen" ||
      QGuiApplication::platformName() == "minimal") {
    state.SkipWithError("needs a display with OpenGL (xvfb-run)");
    return false;
  }
  return true;
}

void BM_BuildArrays(benchmark::State& state) {
  auto project = TexturedGrid();
  modrin::mesh::UpdateModelWithMeshes(*project);
  std::vector<modrin::views3d::PhotoDrawEntry> entries(project->photos.size());
  std::size_t vertices = 0;
  for (auto _ : state) {
    modrin::views3d::BuildArrays(*project, entries);
    vertices = 0;
    for (const auto& entry : entries) vertices += entry.vertices.size();
  }
  state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_BuildArrays)->Unit(benchmark::kMillisecond);

// The textured grid in a 640 x 480 frame on the screen, initialised and drawn once.
struct GridFrame {
  GridFrame() {
    frame.SetProject(project.get());
    Show(frame, 640, 480);
    frame.InitializeView();
    DrawFrame(*frame.view());
  }
  std::unique_ptr<modrin::model::Project> project = TexturedGrid();
  OglFrame frame;
};

// The size of the view a frame was drawn in, beside its time.
void CountViewSize(benchmark::State& state, const Ogl& view) {
  state.counters["view_width"] = view.width();
  state.counters["view_height"] = view.height();
}

// One run of the frame's update pipeline with `flags`, and the frame it draws.
void UpdateAndDraw(benchmark::State& state, int flags) {
  if (!HasOpenGL(state)) return;
  GridFrame grid;
  OglFrame& frame = grid.frame;
  for (auto _ : state) {
    frame.UpdateView(flags);
    DrawFrame(*frame.view());
  }
  CountViewSize(state, *frame.view());
}

// The whole path of "Update 3D view" as a mouse release in a photo view sends it, until the
// picture is on the screen: the model update, the arrays, the display lists compiled from them
// (the vertices handed to OpenGL) and the frame drawn from the lists.
void BM_Update3DView(benchmark::State& state) { UpdateAndDraw(state, OglFrame::kUpdateModel); }
BENCHMARK(BM_Update3DView)->Unit(benchmark::kMillisecond);

// "Redraw 3D view": the same without the model update.
void BM_Redraw3DView(benchmark::State& state) { UpdateAndDraw(state, 0); }
BENCHMARK(BM_Redraw3DView)->Unit(benchmark::kMillisecond);

// The frame alone, drawn from the lists as they are.
void BM_DrawGridFrame(benchmark::State& state) {
  if (!HasOpenGL(state)) return;
  GridFrame grid;
  for (auto _ : state) DrawFrame(*grid.frame.view());
  CountViewSize(state, *grid.frame.view());
}
BENCHMARK(BM_DrawGridFrame)->Unit(benchmark::kMillisecond);

// One frame of turning the calibrated house with the mouse.
void BM_TurnHouse(benchmark::State& state) {
  if (!HasOpenGL(state)) return;
  modrin::model::DocumentHost host;
  modrin::model::ProjectDocument document(host);
  if (!document.OpenPath(MODRIN_HOUSE_SAMPLE).ok()) {
    state.SkipWithError("the house sample did not open");
    return;
  }
  for (auto& photo : document.project().photos) photo->camera.pending = true;
  modrin::engine::RunCalibration(document.project());
  OglFrame frame;
  frame.SetProject(&document.project());
  Show(frame, static_cast<int>(state.range(0)), static_cast<int>(state.range(0)) * 3 / 4);
  frame.InitializeView();
  Ogl& view = *frame.view();
  DrawFrame(view);
  QPointF at(10, 10);
  QMouseEvent press(QEvent::MouseButtonPress, at, view.mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&view, &press);
  for (auto _ : state) {
    at += QPointF(1, 0);
    QMouseEvent move(QEvent::MouseMove, at, view.mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    DrawFrame(view);
  }
  CountViewSize(state, view);
}
BENCHMARK(BM_TurnHouse)->Arg(640)->Arg(1280)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
