#include "cli/cli.h"

#include <signal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <new>
#include <optional>
#include <ostream>
#include <string_view>

#include "cli/residual_tables.h"
#include "cli/text_columns.h"
#include "engine/bundle_adjustment.h"
#include "engine/control_points.h"
#include "engine/progress.h"
#include "engine/reconstruction.h"
#include "engine/residuals.h"
#include "export/save_model.h"
#include "export/web_export.h"
#include "images/camera_database.h"
#include "images/number_text.h"
#include "mesh/mesh_builder.h"
#include "model/project_document.h"

namespace modrin::cli {

namespace {

constexpr char kUsage[] =
    "Usage: modrin-cli [options] COMMAND ARGUMENTS\n"
    "\n"
    "Commands:\n"
    "  info PROJECT         list the photos of a project and count its positions, edges\n"
    "                       and objects\n"
    "  resave PROJECT OUT   open PROJECT with its images and write it to OUT in the current\n"
    "                       file format\n"
    "  export PROJECT OUT   build the textured model and write it to OUT: .obj (with its\n"
    "                       .mtl beside it), .wrl (VRML 2.0), .x (DirectX), .gltf (glTF\n"
    "                       2.0, its .bin beside it) or .glb (glTF binary, photos inside)\n"
    "  calibrate PROJECT    find the camera pose of the photos not calibrated yet, print a\n"
    "                       line per photo solved and save the project (in place, or to the\n"
    "                       -o file); Ctrl-C stops the run, the poses found so far are saved\n"
    "                       and the status is still 0 (a second Ctrl-C quits without saving)\n"
    "  refine PROJECT       refine every calibrated photo's pose and every position's point\n"
    "                       together from all marks (bundle adjustment), print the report\n"
    "                       before and after and save the project (in place, or to -o)\n"
    "  report PROJECT       print the reprojection errors in pixels of every calibrated photo\n"
    "                       and of every position with 3D coordinates, worst first, and a\n"
    "                       summary line; changes nothing\n"
    "  web PROJECT OUT.html write a web page showing the model: OUT.html, OUT.glb (the model,\n"
    "                       textures shrunk), OUT.glb.js (the same for pages opened from a\n"
    "                       file) and the three.js viewer scripts in js/ beside them\n"
    "\n"
    "Options:\n"
    "  --cameras FILE       read the camera database from FILE (never written) instead of\n"
    "                       the per-user one\n"
    "  --help               show this help\n"
    "  --version            show the program version\n"
    "\n"
    "Options of calibrate:\n"
    "  --all                calibrate every photo, also those calibrated already\n"
    "  --photos I,J,...     calibrate these photos only (numbered from 0 as info lists them)\n"
    "  --no-polish          keep the pose search's result without the least-squares polish\n"
    "  -o, --output OUT     save the project to OUT instead of in place\n"
    "  --check ID,ID,...    leave these real positions out of the solves and report the\n"
    "                       distance between their typed and computed coordinates (also\n"
    "                       an option of report and refine); the project file keeps them\n"
    "                       as they are\n"
    "\n"
    "Options of refine (and --check, -o):\n"
    "  --soft SIGMA         let the control points move, as priors of SIGMA world units;\n"
    "                       without it their typed coordinates are held fixed\n"
    "  --huber PX           scale in pixels of the robust loss on the marks (default 1)\n"
    "  --focal              also refine one focal length per camera model and focal\n"
    "\n"
    "Options of report:\n"
    "  --csv                write comma-separated tables, one section each, for programs\n"
    "\n"
    "Options of web:\n"
    "  --max-texture N      the largest texture side in pixels, 1 to 16384 (default 256)\n"
    "  --quality Q          the textures' JPEG quality, 0 to 100 (default 80)\n"
    "  --size WxH           the model's window on the page in pixels (default 400x300); a\n"
    "                       side of 0 follows the browser window\n"
    "  --background RRGGBB  the background colour in hexadecimal (default ffffff)\n"
    "  --h-range MIN,MAX    how far the model turns horizontally, in degrees (default\n"
    "                       -180,180, all the way round); 0 looks at its front\n"
    "  --v-range MIN,MAX    how far the view rises or sinks, in degrees from -90 (below) to\n"
    "                       90 (above) (default -90,90)\n"
    "  --url URL            the page fetches the model from the site address URL, not\n"
    "                       from beside the page\n";

constexpr char kVersion[] = "modrin-cli 3.0\n";

// Warnings of the project commands go to the error stream; everything else is silent.
class CliHost : public model::DocumentHost {
 public:
  explicit CliHost(std::ostream& err) : err_(err) {}
  void ShowWarning(const std::string& text) override {
    std::string oneLine = text;
    for (char& c : oneLine) {
      if (c == '\n') c = ' ';
    }
    err_ << "modrin-cli: warning: " << oneLine << '\n';
  }

 private:
  std::ostream& err_;
};

// Prints "modrin-cli: " and the message, its first letter in lower case as tools write them.
int Fail(std::ostream& err, std::string message) {
  if (!message.empty()) {
    message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
  }
  err << "modrin-cli: " << message << '\n';
  return 1;
}

// The camera database a command works with: the --cameras file (read only), or the user's own,
// which is written back when opening the project added camera models to it.
class CameraDatabaseSession {
 public:
  CameraDatabaseSession(images::CameraDatabase& database, const Options& options)
      : database_(database), options_(options) {}

  bool Load(std::string& error) {
    if (!options_.camerasFile.empty()) {
      if (!database_.Load(options_.camerasFile)) {
        error = "cannot read the camera database \"" + options_.camerasFile + "\"";
        return false;
      }
      return true;
    }
    const std::string path = images::CameraDatabaseReadPath(options_.executableDir);
    if (!path.empty()) database_.Load(path);
    loadedText_ = database_.ToText();
    return true;
  }

  void SaveIfChanged(std::ostream& err) const {
    if (!options_.camerasFile.empty() || database_.ToText() == loadedText_) return;
    const std::string path = images::UserCameraDatabasePath();
    // Saving would drop the entries behind the block that could not be read; the file is kept
    // as it is, and the command still succeeds.
    if (database_.IsPartlyReadFile(path)) {
      err << "modrin-cli: note: the camera database \"" << path
          << "\" could not be read to its end, so it is left as it is and the new camera models "
             "are not saved\n";
      return;
    }
    if (!database_.Save(path)) {
      err << "modrin-cli: warning: cannot save the camera database \"" << path << "\"\n";
    }
  }

 private:
  images::CameraDatabase& database_;
  const Options& options_;
  std::string loadedText_;
};

// Opens a project as the Open command does. Returns false with a message on failure.
bool OpenProject(model::ProjectDocument& document, const std::string& path, std::string& error) {
  const model::FileResult result = document.OpenPath(path);
  if (!result.ok()) {
    error = result.error;
    return false;
  }
  return true;
}

// What every command works on: the project opened as the desktop program opens it (pictures
// decoded, EXIF cameras applied) with the camera database, reporting on `err`.
class OpenedProject {
 public:
  OpenedProject(const Options& options, std::ostream& err)
      : host_(err), document_(host_), cameras_(document_.project().cameraDatabase, options) {}

  // Loads the camera database and opens the project; false with the reason in `error`. A
  // picture that memory did not suffice to decode fails the command: going on without it
  // would report a photo as missing, or write a model without its faces, as if all were well.
  bool Open(const std::string& path, std::string& error) {
    if (!cameras_.Load(error) || !OpenProject(document_, path, error)) return false;
    for (const auto& photo : document_.project().photos) {
      if (photo->LoadFailedForMemory()) {
        error = "cannot load the picture of " + photo->path + ": " + photo->loadError;
        return false;
      }
    }
    return true;
  }
  model::Project& project() { return document_.project(); }
  // Keeps the camera models the photos brought in the per-user database.
  void Finish(std::ostream& err) const { cameras_.SaveIfChanged(err); }

  // Saves the project to `path` through the project's Save and finishes: the exit status.
  int SaveTo(const std::string& path, std::ostream& out, std::ostream& err) {
    document_.SetProjectPath(path);
    document_.SetModified(true);
    const model::FileResult saved = document_.Save();
    if (!saved.ok()) return Fail(err, saved.error);
    out << "Saved " << path << '\n';
    Finish(err);
    return 0;
  }

 private:
  CliHost host_;
  model::ProjectDocument document_;
  CameraDatabaseSession cameras_;
};

// One line: index, path, picture size, camera model, focal length, calibration state.
void PrintPhoto(std::ostream& out, std::size_t index, const model::Photo& photo) {
  out << "Photo " << index << ": " << photo.path << ", ";
  if (photo.HasImage()) {
    out << photo.image().width << " x " << photo.image().height << " pixels";
  } else {
    out << "not loaded";
  }
  out << ", camera ";
  if (photo.camera.cameraEntry) {
    out << '"' << photo.camera.cameraEntry->name << '"';
  } else {
    out << "unknown";
  }
  out << ", focal " << Fixed(photo.camera.focal * 1000.0, 2) << " mm, "
      << (photo.camera.calibrated ? "calibrated" : "not calibrated") << '\n';
}

void PrintCounts(std::ostream& out, const model::Project& project) {
  std::size_t real = 0, computed = 0;
  for (const auto& [id, position] : project.graph.positions) {
    // A real position read from a file is also marked computed; it counts as real only.
    real += position.isReal;
    computed += position.isComputed && !position.isReal;
  }
  out << "Positions: " << project.graph.positions.size() << " (" << real << " real, " << computed
      << " computed)\n";
  out << "Edges: " << project.graph.edges.size() << '\n';
  out << "Objects: " << project.objects.size() << '\n';
}

// ---------------------------------------------------------------------------------------------
// calibrate

// Set by the SIGINT handler while a calibration runs: a Ctrl-C the run has not taken yet. It
// cancels the search under way, and the run takes it before each photo as the request to stop
// (see RunCalibrate). A signal handler reaches only file-scope state, so this flag is the
// tool's one piece of it.
std::atomic<bool> interruptRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set in a signal handler");

void OnInterrupt(int) { interruptRequested.store(true); }

// Makes Ctrl-C a cancel request while it lives, restoring the previous SIGINT action after. A
// process started with SIGINT ignored (a background job) keeps ignoring it. The handler acts
// once (SA_RESETHAND): a second Ctrl-C ends the program at once, as it would without it.
class InterruptGuard {
 public:
  InterruptGuard() {
    interruptRequested.store(false);
    if (sigaction(SIGINT, nullptr, &previous_) != 0) return;
    if (!(previous_.sa_flags & SA_SIGINFO) && previous_.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    installed_ = sigaction(SIGINT, &action, nullptr) == 0;
  }
  ~InterruptGuard() {
    if (installed_) sigaction(SIGINT, &previous_, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction previous_ {};
  bool installed_ = false;
};

// The calibration's progress display: "Calibrating image NAME [#####.....]  45%" redrawn in
// place on `bar` (none when null), and a Ctrl-C during the search as its cancel request.
class TerminalProgress final : public engine::Progress {
 public:
  explicit TerminalProgress(std::ostream* bar) : bar_(bar) {}

  void Create(const std::string& text) override {
    text_ = text;
    low_ = 0;
    high_ = 100;
    position_ = 0;
    step_ = 1;
    active_ = true;
    Draw();
  }
  void SetRange(int low, int high) override {
    low_ = low;
    high_ = high;
    Draw();
  }
  void SetStep(int step) override { step_ = step; }
  void StepIt() override {
    position_ += step_;
    Draw();
  }
  void SetPos(int position) override {
    position_ = position;
    Draw();
  }
  void Destroy() override {
    if (bar_ != nullptr && !shown_.empty()) {
      *bar_ << '\r' << std::string(shown_.size(), ' ') << '\r' << std::flush;
    }
    shown_.clear();
    active_ = false;
  }
  bool CancelRequested() override { return interruptRequested.load(); }

 private:
  static constexpr int kBarWidth = 30;
  // Keeps the whole line within 79 columns, so that '\r' returns to its start.
  static constexpr std::size_t kMaxTextBytes = 79 - kBarWidth - 7;

  void Draw() {
    if (bar_ == nullptr || !active_) return;
    const long long span = static_cast<long long>(high_) - low_;
    const long long done = static_cast<long long>(position_) - low_;
    const int percent = span > 0 ? static_cast<int>(std::clamp(done * 100 / span, 0LL, 100LL)) : 0;
    const int filled = percent * kBarWidth / 100;
    std::string line = ShortText();
    line += '[';
    line.append(filled, '#');
    line.append(kBarWidth - filled, '.');
    line += "] ";
    const std::string digits = std::to_string(percent);
    line.append(3 - digits.size(), ' ');
    line += digits;
    line += '%';
    if (line == shown_) return;
    *bar_ << '\r' << line << std::flush;
    shown_ = std::move(line);
  }

  // The leading text, cut at a character boundary and ended with "... " when too long.
  std::string ShortText() const {
    if (text_.size() <= kMaxTextBytes) return text_;
    std::size_t cut = kMaxTextBytes - 4;
    while (cut > 0 && (static_cast<unsigned char>(text_[cut]) & 0xC0) == 0x80) --cut;
    return text_.substr(0, cut) + "... ";
  }

  std::ostream* bar_;
  std::string text_;
  std::string shown_;  // the line on screen; empty when none
  int low_ = 0, high_ = 100, position_ = 0, step_ = 1;
  bool active_ = false;
};

// "I,J,..." of numbers, sorted, each once. False with a message naming `option` and `what` the
// numbers are for anything but digits between single commas.
bool ParseNumberList(std::string_view text, std::string_view option, std::string_view what,
                     std::vector<std::size_t>& numbers, std::string& error) {
  numbers.clear();
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item =
        text.substr(start, comma == std::string_view::npos ? comma : comma - start);
    std::size_t number = 0;
    const auto [end, status] = std::from_chars(item.data(), item.data() + item.size(), number);
    if (item.empty() || status != std::errc() || end != item.data() + item.size()) {
      error = std::string(option) + " takes " + std::string(what) + " separated by commas, not \"" +
              std::string(text) + "\"";
      return false;
    }
    numbers.push_back(number);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return true;
}

// The --check ids: real positions of the project. False with a message for any other.
bool CheckIdsAreReal(const model::Project& project, const engine::CheckPoints& checks,
                     std::string& error) {
  for (const std::int32_t id : checks) {
    if (!project.graph.IsReal(id)) {
      error = "--check: position " + std::to_string(id) +
              " is not a position with real coordinates in the project";
      return false;
    }
  }
  return true;
}

// Which photos the run is to solve; it tries those of them that are ready, so by default it
// solves engine::PhotosToCalibrate. False with a message when a listed index is not a photo.
bool ChoosePhotos(const model::Project& project, const CalibrateOptions& calibrate,
                  std::vector<bool>& chosen, std::string& error) {
  const std::size_t count = project.photos.size();
  chosen.assign(count, false);
  switch (calibrate.choice) {
    case PhotoChoice::NotCalibrated:
      for (std::size_t i = 0; i < count; ++i) chosen[i] = !project.photos[i]->camera.calibrated;
      return true;
    case PhotoChoice::All:
      chosen.assign(count, true);
      return true;
    case PhotoChoice::Listed:
      for (const std::size_t index : calibrate.photos) {
        if (index >= count) {
          error = "--photos: there is no photo " + std::to_string(index) + " (the project has " +
                  (count == 0 ? std::string("no photos")
                              : std::to_string(count) + " photos, numbered 0 to " +
                                    std::to_string(count - 1)) +
                  ")";
          return false;
        }
        chosen[index] = true;
      }
      return true;
  }
  return true;
}

// "(x, y, z)", each number with `decimals` decimals right-aligned in `width` columns.
std::string Triple(const engine::Vec3& value, int decimals, std::size_t width) {
  std::string text = "(";
  text += PadLeft(Fixed(value.x, decimals), width);
  text += ", ";
  text += PadLeft(Fixed(value.y, decimals), width);
  text += ", ";
  text += PadLeft(Fixed(value.z, decimals), width);
  text += ')';
  return text;
}

// Three significant digits in scientific notation ("1.234e-05"), whatever the locale.
std::string Scientific(double value) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::scientific, 3);
  return std::string(buffer.data(), result.ptr);
}

// The result of one solve: accepted or rejected, the camera centre (world units), pitch, roll
// and yaw in degrees, the error the acceptance judged, the RMS distance in pixels between the
// control points' marks and their projections, and the seconds taken.
std::string SolveLine(const std::string& label, const model::Photo& photo,
                      const engine::CalibrationResult& result, double seconds) {
  const engine::CameraRecord& camera = photo.camera;
  const double degreesPerRadian = 90 / std::acos(0.0);
  std::optional<double> rms;
  if (photo.HasImage()) {
    rms = engine::ReprojectionRms(camera, photo.image().width, photo.image().height);
  }
  const bool noError = result.error == std::numeric_limits<double>::max();
  return label + "  " + (result.accepted ? "accepted" : "rejected") + "  translation " +
         Triple(camera.translation, 4, 9) + "  orientation " +
         Triple(camera.orientation * degreesPerRadian, 4, 9) + " deg  error " +
         PadLeft(noError ? "none" : Scientific(result.error), 9) + "  rms " +
         PadLeft(rms ? Fixed(*rms, 2) : "-", 6) + " px  " + PadLeft(Fixed(seconds, 2), 6) + " s\n";
}

// Why a chosen photo was not solved: what kept the run from trying it, or that the run did not
// reach it.
std::string NotSolvedReason(const engine::CalibrationReadiness& readiness, bool stopped) {
  if (!readiness.ready()) return engine::ReadinessText(readiness);
  return stopped ? "not reached, the run was stopped" : "not reached";
}

}  // namespace

int RunInfo(const std::string& projectPath, const Options& options, std::ostream& out,
            std::ostream& err) {
  OpenedProject opened(options, err);
  std::string error;
  if (!opened.Open(projectPath, error)) return Fail(err, error);
  const auto& photos = opened.project().photos;
  for (std::size_t i = 0; i < photos.size(); ++i) PrintPhoto(out, i, *photos[i]);
  PrintCounts(out, opened.project());
  opened.Finish(err);
  return 0;
}

int RunResave(const std::string& projectPath, const std::string& outPath, const Options& options,
              std::ostream& out, std::ostream& err) {
  OpenedProject opened(options, err);
  std::string error;
  if (!opened.Open(projectPath, error)) return Fail(err, error);
  return opened.SaveTo(outPath, out, err);
}

int RunCalibrate(const std::string& projectPath, const CalibrateOptions& calibrate,
                 const Options& options, std::ostream& out, std::ostream& err) {
  OpenedProject opened(options, err);
  std::string error;
  if (!opened.Open(projectPath, error)) return Fail(err, error);
  model::Project& project = opened.project();
  std::vector<bool> chosen;
  if (!ChoosePhotos(project, calibrate, chosen, error)) return Fail(err, error);
  if (!CheckIdsAreReal(project, calibrate.checks, error)) return Fail(err, error);

  // Every line about a photo starts with its label, padded to one width so the columns align.
  // Whether the run can try a photo is settled before it starts: it builds the correspondences
  // once, from the photos calibrated then.
  std::vector<std::string> labels(project.photos.size());
  std::vector<engine::CalibrationReadiness> readiness(project.photos.size());
  std::size_t labelWidth = 0;
  for (std::size_t i = 0; i < project.photos.size(); ++i) {
    project.photos[i]->camera.pending = chosen[i];
    if (!chosen[i]) continue;
    readiness[i] = engine::CheckCalibrationReadiness(project, i, calibrate.checks);
    labels[i] = PhotoLabel(i, *project.photos[i]);
    labelWidth = std::max(labelWidth, labels[i].size());
  }
  // A listed photo always exists, so only the other choices can leave nothing to do.
  if (std::find(chosen.begin(), chosen.end(), true) == chosen.end()) {
    out << (project.photos.empty()
                ? "The project has no photos.\n"
                : "Every photo is calibrated already; --all calibrates them again.\n");
  }

  TerminalProgress progress(options.progressBar ? &err : nullptr);
  engine::CalibrationRunOptions run;
  run.calibration.progress = &progress;
  run.calibration.polish = calibrate.polish;
  run.checks = calibrate.checks;
  std::vector<bool> solved(project.photos.size(), false);
  run.onPhotoDone = [&](std::size_t photo, const engine::CalibrationResult& result,
                        double seconds) {
    solved[photo] = true;
    // Flushed at once: a run can take minutes and the output may be a pipe.
    out << SolveLine(PadRight(labels[photo], labelWidth), *project.photos[photo], result, seconds)
        << std::flush;
  };
  // Ctrl-C stops the run. Before each photo the run takes the flag, so that a Ctrl-C that came
  // between two solves stops it there instead of cancelling the next photo's search; one that
  // comes during a search cancels that search and is taken before the next photo.
  run.stopRequested = [] { return interruptRequested.exchange(false); };
  engine::CalibrationRunSummary summary;
  bool interrupted = false;
  {
    InterruptGuard interrupt;
    summary = engine::RunCalibration(project, run);
    // A Ctrl-C during the last search is not taken by the run, which had nothing left to do.
    interrupted = summary.stopped || interruptRequested.load();
  }
  // Coordinates computed from the poses before the run would stay computed (the run computes
  // only the positions not known yet) and reach the file and every later export. As the
  // calibration dialog's OK does, they are cleared and computed again from the photos now
  // calibrated. Real positions keep their coordinates: a real position read from a file is
  // also marked computed, and clearing that mark leaves it real and written with them.
  project.graph.InvalidateAllComputed();
  project.graph.ComputeAll();
  for (std::size_t i = 0; i < project.photos.size(); ++i) {
    if (!chosen[i] || solved[i]) continue;
    out << PadRight(labels[i], labelWidth)
        << "  not solved: " << NotSolvedReason(readiness[i], summary.stopped) << '\n';
  }
  // A solved photo whose control points reproject far worse than the others' is told, so
  // that a wrong mark or a doubtful pose is looked at.
  const std::vector<std::optional<double>> rms = engine::ControlPointRms(project, calibrate.checks);
  const std::vector<bool> doubtful = engine::DoubtfulPhotos(rms);
  for (std::size_t i = 0; i < project.photos.size(); ++i) {
    if (!solved[i] || !doubtful[i]) continue;
    out << PadRight(labels[i], labelWidth) << "  " << engine::CheckMarksNote(*rms[i]) << '\n';
  }
  out << "Solves: " << summary.solves << ", accepted: " << summary.accepted
      << (interrupted ? ", cancelled\n" : "\n");
  if (!calibrate.checks.empty()) {
    out << CheckPointsLine(engine::BuildResidualReport(project, calibrate.checks));
  }

  return opened.SaveTo(calibrate.outPath.empty() ? projectPath : calibrate.outPath, out, err);
}

int RunReport(const std::string& projectPath, const ReportOptions& report, const Options& options,
              std::ostream& out, std::ostream& err) {
  OpenedProject opened(options, err);
  std::string error;
  if (!opened.Open(projectPath, error)) return Fail(err, error);
  const model::Project& project = opened.project();
  if (!CheckIdsAreReal(project, report.checks, error)) return Fail(err, error);
  const engine::ResidualReport residuals = engine::BuildResidualReport(project, report.checks);
  if (residuals.photos.empty() && !report.csv) {
    out << "No photo is calibrated yet; run calibrate first.\n";
  } else {
    PrintResidualReport(project, residuals, report.csv ? TableFormat::kCsv : TableFormat::kText,
                        out);
  }
  opened.Finish(err);
  return 0;
}

int RunRefine(const std::string& projectPath, const RefineCommandOptions& refine,
              const Options& options, std::ostream& out, std::ostream& err) {
  OpenedProject opened(options, err);
  std::string error;
  if (!opened.Open(projectPath, error)) return Fail(err, error);
  model::Project& project = opened.project();
  if (!CheckIdsAreReal(project, refine.checks, error)) return Fail(err, error);
  const engine::ResidualReport before = engine::BuildResidualReport(project, refine.checks);
  out << "Before refinement:\n";
  PrintPhotoTable(project, before, TableFormat::kText, out);
  PrintSummary(project, before, TableFormat::kText, out);

  engine::RefineOptions run;
  run.checks = refine.checks;
  run.softSigma = refine.softSigma;
  run.huberPixels = refine.huberPixels;
  run.refineFocal = refine.refineFocal;
  TerminalProgress progress(options.progressBar ? &err : nullptr);
  engine::RefineResult result;
  {
    InterruptGuard interrupt;
    result = engine::Refine(project, run, &progress);
  }
  if (!result.ok) return Fail(err, result.message);
  engine::ApplyRefinement(project, result);
  out << "\nRefined " << result.poses.size() << " photos and " << result.points.size()
      << " computed positions from " << result.observations << " marks in " << result.iterations
      << " iterations: RMS " << Fixed(result.rmsBefore, 2) << " px -> " << Fixed(result.rmsAfter, 2)
      << " px";
  if (result.leftOut > 0) out << " (" << result.leftOut << " positions seen once left out)";
  out << "\n\nAfter refinement:\n";
  PrintResidualReport(project, engine::BuildResidualReport(project, refine.checks),
                      TableFormat::kText, out);
  return opened.SaveTo(refine.outPath.empty() ? projectPath : refine.outPath, out, err);
}

namespace {

// What a model update made: the current objects' non-empty meshes and their sizes.
struct ModelCounts {
  std::size_t currentObjects = 0, meshes = 0, vertices = 0, triangles = 0;
};

ModelCounts CountModel(const model::Project& project) {
  ModelCounts counts;
  for (const auto& object : project.objects) {
    if (!object->current) continue;
    ++counts.currentObjects;
    for (const auto& mesh : object->photoMeshes) {
      if (mesh->vertices().empty()) continue;
      ++counts.meshes;
      counts.vertices += mesh->vertices().size();
      counts.triangles += mesh->triangleCount();
    }
  }
  return counts;
}

}  // namespace

int RunExport(const std::string& projectPath, const std::string& outPath, const Options& options,
              std::ostream& out, std::ostream& err) {
  if (exporters::ModelFormatOf(outPath) == exporters::ModelFormat::kNone) {
    return Fail(err, "cannot tell the model format of \"" + outPath + "\": the name must end in " +
                         exporters::kModelExtensions);
  }
  OpenedProject opened(options, err);
  std::string error;
  if (!opened.Open(projectPath, error)) return Fail(err, error);
  model::Project& project = opened.project();
  const std::size_t faces = mesh::UpdateModelWithMeshes(project);
  const exporters::SaveModelResult saved = exporters::SaveModel(project, outPath);
  if (!saved.ok) return Fail(err, saved.error);
  const ModelCounts counts = CountModel(project);
  out << "Faces found: " << faces << '\n'
      << "Current objects: " << counts.currentObjects << '\n'
      << "Meshes: " << counts.meshes << " (" << counts.vertices << " vertices, " << counts.triangles
      << " triangles)\n"
      << "Saved " << outPath << '\n';
  opened.Finish(err);
  return 0;
}

int RunWeb(const std::string& projectPath, const exporters::WebExportSettings& settings,
           const Options& options, std::ostream& out, std::ostream& err) {
  std::string problem = exporters::CheckWebExportSettings(settings).message;
  if (!problem.empty()) {
    problem.pop_back();  // the sentence's full stop
    return Fail(err, problem);
  }
  OpenedProject opened(options, err);
  std::string error;
  if (!opened.Open(projectPath, error)) return Fail(err, error);
  model::Project& project = opened.project();
  mesh::UpdateModelWithMeshes(project);
  TerminalProgress progress(options.progressBar ? &err : nullptr);
  const exporters::WebExportResult written = exporters::WriteWebPage(project, settings, &progress);
  if (!written.ok) return Fail(err, written.error);
  for (const std::string& file : written.written) out << "Saved " << file << '\n';
  opened.Finish(err);
  return 0;
}

namespace {

enum class OptionMatch { No, Value, Missing };

// Whether args[i] is the value option `name`, given as "NAME VALUE" or, for a long name, as
// "NAME=VALUE". With a value, `value` receives it and i moves past it.
OptionMatch MatchValueOption(const std::vector<std::string>& args, std::size_t& i,
                             std::string_view name, std::string& value) {
  const std::string& arg = args[i];
  if (arg == name) {
    if (i + 1 == args.size()) return OptionMatch::Missing;
    value = args[++i];
    return OptionMatch::Value;
  }
  if (name.starts_with("--") && arg.size() > name.size() && arg.starts_with(name) &&
      arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
    return OptionMatch::Value;
  }
  return OptionMatch::No;
}

}  // namespace

namespace {

// The options of the commands, as parsed, and which were given: each with the commands it
// belongs to, space-separated, so that another command refuses it.
// The options of web, each with a value.
constexpr std::string_view kWebOptions[] = {"--max-texture", "--quality", "--size", "--background",
                                            "--h-range",     "--v-range", "--url"};

// Whether args[i] is an option of web. See MatchValueOption.
OptionMatch MatchWebOption(const std::vector<std::string>& args, std::size_t& i,
                           std::string& value) {
  for (const std::string_view option : kWebOptions) {
    const OptionMatch match = MatchValueOption(args, i, option, value);
    if (match != OptionMatch::No) return match;
  }
  return OptionMatch::No;
}

// The whole decimal number `text` is, sign allowed; false for anything else.
bool ParseWhole(std::string_view text, int& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && !text.empty();
}

// Two whole numbers joined by `separator`, as "-30,30" or "640x480".
bool ParseWholePair(std::string_view text, char separator, int& first, int& second) {
  const std::size_t at = text.find(separator);
  return at != std::string_view::npos && ParseWhole(text.substr(0, at), first) &&
         ParseWhole(text.substr(at + 1), second);
}

// Six hexadecimal digits RRGGBB, a leading '#' allowed.
bool ParseColour(std::string_view text, exporters::RgbColour& colour) {
  if (text.starts_with('#')) text.remove_prefix(1);
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, 16);
  if (text.size() != 6 || error != std::errc() || stop != end) return false;
  colour = {static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8 & 255),
            static_cast<std::uint8_t>(value & 255)};
  return true;
}

// Sets the value of the web option `name`; false with a message when it is no value of its kind.
bool ApplyWebOption(std::string_view name, const std::string& value,
                    exporters::WebExportSettings& settings, std::string& error) {
  const std::string shown = " (not \"" + value + "\")";
  if (name == "--max-texture") {
    settings.maxTexturePixels = value;
    if (exporters::ParseMaxTextureSide(value)) return true;
    error = "--max-texture must be a whole number of pixels from 1 to " +
            std::to_string(exporters::kMaxWebTextureSide) + shown;
  } else if (name == "--quality") {
    if (ParseWhole(value, settings.textureQuality) && settings.textureQuality >= 0 &&
        settings.textureQuality <= 100) {
      return true;
    }
    error = "--quality must be a whole number from 0 to 100" + shown;
  } else if (name == "--size") {
    if (ParseWholePair(value, 'x', settings.windowWidth_px, settings.windowHeight_px) &&
        settings.windowWidth_px >= 0 && settings.windowHeight_px >= 0) {
      return true;
    }
    error = "--size must be WIDTHxHEIGHT in whole pixels, 0 or more" + shown;
  } else if (name == "--background") {
    if (ParseColour(value, settings.background)) return true;
    error = "--background must be a colour as six hexadecimal digits RRGGBB" + shown;
  } else if (name == "--h-range" || name == "--v-range") {
    const bool h = name == "--h-range";
    int& low = h ? settings.horizontalMin_deg : settings.verticalMin_deg;
    int& high = h ? settings.horizontalMax_deg : settings.verticalMax_deg;
    if (ParseWholePair(value, ',', low, high) && low <= high) return true;
    error = std::string(name) + " must be MIN,MAX in whole degrees, MIN not above MAX" + shown;
  } else {
    settings.siteAddress = value;
    settings.webOrLocal = true;
    return true;
  }
  return false;
}

struct CommandOptions {
  CalibrateOptions calibrate;
  ReportOptions report;
  RefineCommandOptions refine;
  exporters::WebExportSettings web;
  engine::CheckPoints checks;  // --check, of every command that takes it
  std::vector<std::pair<std::string, std::string_view>> given;
};

enum class ParseStep { kParsed, kNotMine, kFailed };

// A finite number above 0 in C notation ("0.5", "2e-3"), whatever the locale.
bool ParsePositive(const std::string& text, double& number) {
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), number);
  return !text.empty() && status == std::errc() && end == text.data() + text.size() &&
         std::isfinite(number) && number > 0;
}

// The ids of --check ID,ID,...; false with a message for a list that is not one of ids.
bool ParseCheckIds(std::string_view text, engine::CheckPoints& checks, std::string& error) {
  std::vector<std::size_t> ids;
  if (!ParseNumberList(text, "--check", "position ids such as 3,7", ids, error)) return false;
  for (const std::size_t id : ids) {
    if (id > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      error = "--check: there is no position " + std::to_string(id);
      return false;
    }
    checks.insert(static_cast<std::int32_t>(id));
  }
  return true;
}

// Parses args[i] when it is an option of a command, moving i past its value; kFailed with the
// message in `error`.
ParseStep ParseCommandOption(const std::vector<std::string>& args, std::size_t& i,
                             CommandOptions& parsed, std::string& error) {
  const std::string& arg = args[i];
  const std::string name = arg.substr(0, arg.find('='));
  CalibrateOptions& calibrate = parsed.calibrate;
  std::string_view commands = "calibrate";
  std::string value;
  OptionMatch match = OptionMatch::No;
  if (arg == "--all") {
    if (calibrate.choice != PhotoChoice::NotCalibrated) {
      error = "give only one of --all and --photos";
      return ParseStep::kFailed;
    }
    calibrate.choice = PhotoChoice::All;
  } else if ((match = MatchValueOption(args, i, "--photos", value)) != OptionMatch::No) {
    if (match == OptionMatch::Missing) {
      error = "--photos needs a list of photo numbers";
      return ParseStep::kFailed;
    }
    if (calibrate.choice != PhotoChoice::NotCalibrated) {
      error = "give only one of --all and --photos";
      return ParseStep::kFailed;
    }
    calibrate.choice = PhotoChoice::Listed;
    if (!ParseNumberList(value, "--photos", "photo numbers from 0 such as 0,2,3", calibrate.photos,
                         error)) {
      return ParseStep::kFailed;
    }
  } else if (arg == "--no-polish") {
    calibrate.polish = false;
  } else if ((match = MatchValueOption(args, i, "-o", value)) != OptionMatch::No ||
             (match = MatchValueOption(args, i, "--output", value)) != OptionMatch::No) {
    if (match == OptionMatch::Missing) {
      error = name + " needs a file name";
      return ParseStep::kFailed;
    }
    calibrate.outPath = value;
    parsed.refine.outPath = value;
    commands = "calibrate refine";
  } else if ((match = MatchValueOption(args, i, "--soft", value)) != OptionMatch::No ||
             (match = MatchValueOption(args, i, "--huber", value)) != OptionMatch::No) {
    double number = 0;
    if (match == OptionMatch::Missing || !ParsePositive(value, number)) {
      error =
          name + " needs a positive number" + (name == "--soft" ? " in world units" : " of pixels");
      return ParseStep::kFailed;
    }
    (name == "--soft" ? parsed.refine.softSigma : parsed.refine.huberPixels) = number;
    commands = "refine";
  } else if (arg == "--focal") {
    parsed.refine.refineFocal = true;
    commands = "refine";
  } else if ((match = MatchValueOption(args, i, "--check", value)) != OptionMatch::No) {
    if (match == OptionMatch::Missing) {
      error = "--check needs a list of position ids";
      return ParseStep::kFailed;
    }
    if (!ParseCheckIds(value, parsed.checks, error)) return ParseStep::kFailed;
    commands = "calibrate report refine";
  } else if (arg == "--csv") {
    parsed.report.csv = true;
    commands = "report";
  } else if ((match = MatchWebOption(args, i, value)) != OptionMatch::No) {
    if (match == OptionMatch::Missing) {
      error = name + " needs a value";
      return ParseStep::kFailed;
    }
    if (!ApplyWebOption(name, value, parsed.web, error)) return ParseStep::kFailed;
    commands = "web";
  } else {
    return ParseStep::kNotMine;
  }
  parsed.given.emplace_back(name, commands);
  return ParseStep::kParsed;
}

// "calibrate", "calibrate and report", "calibrate, report and refine" from a space-separated
// list.
std::string CommandList(std::string_view commands) {
  std::vector<std::string_view> names;
  for (std::size_t start = 0; start < commands.size();) {
    const std::size_t end = std::min(commands.find(' ', start), commands.size());
    names.push_back(commands.substr(start, end - start));
    start = end + 1;
  }
  std::string text;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k > 0) text += k + 1 == names.size() ? " and " : ", ";
    text += names[k];
  }
  return text;
}

bool BelongsTo(std::string_view commands, std::string_view command) {
  for (std::size_t start = 0; start < commands.size();) {
    const std::size_t end = std::min(commands.find(' ', start), commands.size());
    if (commands.substr(start, end - start) == command) return true;
    start = end + 1;
  }
  return false;
}

int RunCommandLine(const std::vector<std::string>& args, const std::string& executableDir,
                   std::ostream& out, std::ostream& err, bool errIsTerminal) {
  Options options;
  options.executableDir = executableDir;
  options.progressBar = errIsTerminal;
  CommandOptions parsed;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      out << kUsage;
      return 0;
    }
    if (arg == "--version") {
      out << kVersion;
      return 0;
    }
    std::string value;
    const OptionMatch match = MatchValueOption(args, i, "--cameras", value);
    if (match == OptionMatch::Missing) return Fail(err, "--cameras needs a file name");
    if (match == OptionMatch::Value) {
      options.camerasFile = value;
      continue;
    }
    std::string error;
    const ParseStep step = ParseCommandOption(args, i, parsed, error);
    if (step == ParseStep::kFailed) return Fail(err, error);
    if (step == ParseStep::kParsed) continue;
    if (arg.size() > 1 && arg[0] == '-') {
      return Fail(err, "unknown option \"" + arg + "\" (see modrin-cli --help)");
    }
    words.push_back(arg);
  }
  if (words.empty()) {
    err << kUsage;
    return 2;
  }
  const std::string& command = words[0];
  for (const auto& [name, commands] : parsed.given) {
    if (!BelongsTo(commands, command)) {
      return Fail(err, name + " is an option of " + CommandList(commands) + " only");
    }
  }
  parsed.calibrate.checks = parsed.checks;
  parsed.report.checks = parsed.checks;
  parsed.refine.checks = parsed.checks;
  const CalibrateOptions& calibrate = parsed.calibrate;
  if (command == "info") {
    if (words.size() != 2) return Fail(err, "info takes one project file");
    return RunInfo(words[1], options, out, err);
  }
  if (command == "resave") {
    if (words.size() != 3) return Fail(err, "resave takes a project file and an output file");
    return RunResave(words[1], words[2], options, out, err);
  }
  if (command == "export") {
    if (words.size() != 3) return Fail(err, "export takes a project file and an output file");
    return RunExport(words[1], words[2], options, out, err);
  }
  if (command == "calibrate") {
    if (words.size() != 2) return Fail(err, "calibrate takes one project file");
    return RunCalibrate(words[1], calibrate, options, out, err);
  }
  if (command == "web") {
    if (words.size() != 3) return Fail(err, "web takes a project file and an HTML file");
    parsed.web.fileName = words[2];
    return RunWeb(words[1], parsed.web, options, out, err);
  }
  if (command == "refine") {
    if (words.size() != 2) return Fail(err, "refine takes one project file");
    return RunRefine(words[1], parsed.refine, options, out, err);
  }
  if (command == "report") {
    if (words.size() != 2) return Fail(err, "report takes one project file");
    return RunReport(words[1], parsed.report, options, out, err);
  }
  return Fail(err, "unknown command \"" + command + "\" (see modrin-cli --help)");
}

}  // namespace

int Main(const std::vector<std::string>& args, const std::string& executableDir, std::ostream& out,
         std::ostream& err, bool errIsTerminal) {
  // Files are only ever replaced once completely written, so a command that fails on its way
  // leaves the file it was writing as it was; what is left is to say why instead of aborting.
  try {
    return RunCommandLine(args, executableDir, out, err, errIsTerminal);
  } catch (const std::bad_alloc&) {
    return Fail(err, "out of memory");
  } catch (const std::exception& e) {
    return Fail(err, e.what());
  } catch (...) {
    return Fail(err, "unexpected failure");
  }
}

}  // namespace modrin::cli
