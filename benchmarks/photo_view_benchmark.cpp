// The photo view under load: full repaints of a 24-megapixel photo with 2,000 marks, and mouse
// moves with the cursor mirrored into three other calibrated views. Runs on Qt's offscreen
// platform unless a display is chosen.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScrollBar>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "model/project.h"
#include "model/project_document.h"
#include "views2d/img.h"
#include "views2d/testing/recording_view_host.h"

namespace {

using modrin::model::Project;
using modrin::views2d::Img;

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

using BenchHost = modrin::views2d::testing::RecordingViewHost;

// Sums the area every paint event of the watched viewports covers.
class PaintedArea : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      for (const QRect& rect : static_cast<QPaintEvent*>(event)->region()) {
        pixels += static_cast<double>(rect.width()) * rect.height();
      }
    }
    return false;
  }
  double pixels = 0;
};

// `photos` photos of 6000 x 4000 with calibrated cameras around the scene, and 2,000
// positions marked in each, joined by 1,960 edges, in one current object.
std::unique_ptr<Project> MakeProject(int photos) {
  auto project = std::make_unique<Project>();
  project->AddObject("Object").current = true;
  project->cameraDatabase.Insert("Cam", 0.0236, 0.0157, false);
  for (int i = 0; i < photos; ++i) {
    modrin::model::Photo& photo = project->AddPhoto();
    auto image = std::make_unique<modrin::images::DecodedImage>(
        modrin::images::DecodedImage::Filled(kWidth, kHeight, 0));
    // A gradient, so the picture is not one colour the painter could shortcut.
    for (int y = 0; y < kHeight; ++y) {
      std::uint8_t* row = image->pixels.data() + static_cast<std::size_t>(y) * image->stride();
      for (int x = 0; x < kWidth; ++x) {
        row[3 * x] = static_cast<std::uint8_t>(x);
        row[3 * x + 1] = static_cast<std::uint8_t>(y);
        row[3 * x + 2] = static_cast<std::uint8_t>(x + y);
      }
    }
    photo.levels.push_back(std::move(image));
    photo.camera.cameraEntry = project->cameraDatabase.Find("Cam");
    photo.camera.focal = 0.024;
    photo.camera.translation = {-6.0 + 4.0 * i, -20, 8};
    photo.camera.orientation = {0.35, 0, 0.3 - 0.2 * i};
    photo.camera.calibrated = true;
  }
  // Marks as a user sets them on a facade: a jittered grid of 50 x 40 positions, each joined to
  // its right-hand neighbour, seen a little shifted in every photo.
  std::mt19937 random(7);
  std::uniform_int_distribution<int> jitter(-20, 20);
  for (int row = 0; row < 40; ++row) {
    std::int32_t previous = -1;
    for (int column = 0; column < 50; ++column) {
      const int x = 60 + column * 117, y = 50 + row * 98;
      const std::int32_t id = project->AddImagePoint(0, {x + jitter(random), y + jitter(random)});
      for (int i = 1; i < photos; ++i) {
        project->graph.SetImagePoint(id, i, {x + 10 * i + jitter(random), y + jitter(random)});
      }
      if (previous >= 0) project->AddEdge(previous, id);
      previous = id;
    }
  }
  return project;
}

struct Views {
  BenchHost host;
  std::unique_ptr<Project> project;
  std::vector<std::unique_ptr<Img>> views;

  Views(int count, float zoom) : project(MakeProject(count)) {
    for (int i = 0; i < count; ++i) {
      auto view = std::make_unique<Img>(host);
      view->resize(1280, 800);
      view->SetProject(project.get());
      view->SetPhoto(i);
      view->show();
      view->SetZoom(zoom);
      host.views.push_back(view.get());
      views.push_back(std::move(view));
    }
    QApplication::processEvents();
  }
};

void BM_FullRepaint(benchmark::State& state, float zoom) {
  Views scene(1, zoom);
  Img& view = *scene.views.front();
  if (zoom > 1) {
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() / 2);
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
  }
  for (auto _ : state) view.Redraw();
  state.counters["zoom"] = view.zoom();
}
BENCHMARK_CAPTURE(BM_FullRepaint, fit, -1.0f)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullRepaint, zoom500, 5.0f)->Unit(benchmark::kMillisecond);

// A mouse move over one calibrated view with three more open: the cursor, the 3D point, the
// mirrored cursors and the repaint of every marker's old and new place.
void BM_MouseMove(benchmark::State& state) {
  Views scene(4, -1.0f);
  Img& view = *scene.views.front();
  PaintedArea painted;
  for (const auto& each : scene.views) {
    each->DrawCursorMarker();
    each->viewport()->installEventFilter(&painted);
  }
  QApplication::processEvents();
  painted.pixels = 0;
  int step = 0;
  for (auto _ : state) {
    const QPoint at(300 + (step % 200) * 3, 200 + (step % 150) * 2);
    ++step;
    QMouseEvent move(QEvent::MouseMove, at, view.viewport()->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &move);
    // The updates the move asked for are painted here, as the event loop would next.
    QApplication::processEvents();
  }
  state.counters["painted_px_per_move"] =
      benchmark::Counter(painted.pixels, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_MouseMove)->Unit(benchmark::kMicrosecond);

// Opening the house sample as the program does (the file read, its six photos decoded) and
// showing its first three photos fitted into three views, as the default layout does.
void BM_OpenHouseSample(benchmark::State& state) {
  modrin::model::DocumentHost quiet;
  for (auto _ : state) {
    modrin::model::ProjectDocument document(quiet);
    if (!document.OpenPath(MODRIN_HOUSE_SAMPLE).ok()) {
      state.SkipWithError("the house sample does not open");
      return;
    }
    BenchHost host;
    std::vector<std::unique_ptr<Img>> views;
    for (int i = 0; i < 3; ++i) {
      views.push_back(std::make_unique<Img>(host));
      host.views.push_back(views.back().get());
      views.back()->resize(640, 420);
      views.back()->SetProject(&document.project());
      views.back()->SetPhoto(i);
      views.back()->show();
      views.back()->SetZoom(-1);
    }
    QApplication::processEvents();
  }
}
BENCHMARK(BM_OpenHouseSample)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
