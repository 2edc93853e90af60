#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "engine/residuals.h"
#include "export/web_export_settings.h"

namespace modrin::cli {

// Options shared by every command.
struct Options {
  std::string camerasFile;  // --cameras: read this camera database, never write it
  std::string executableDir;
  bool progressBar = false;  // draw progress bars on the error stream (it is a terminal)
};

// Which photos `calibrate` solves.
enum class PhotoChoice {
  NotCalibrated,  // every photo not calibrated yet (the default)
  All,            // --all
  Listed,         // --photos I,J,...
};

// The options of `modrin-cli calibrate`.
struct CalibrateOptions {
  PhotoChoice choice = PhotoChoice::NotCalibrated;
  std::vector<std::size_t> photos;  // PhotoChoice::Listed: 0-based indices as info prints them
  bool polish = true;               // --no-polish: false
  std::string outPath;              // -o: where to save; empty: in place
  engine::CheckPoints checks;       // --check: real positions left out of every solve
};

// The options of `modrin-cli report`.
struct ReportOptions {
  bool csv = false;            // --csv: comma-separated sections instead of aligned columns
  engine::CheckPoints checks;  // --check: real positions reported as check points
};

// The options of `modrin-cli refine`.
struct RefineCommandOptions {
  std::string outPath;              // -o: where to save; empty: in place
  engine::CheckPoints checks;       // --check
  std::optional<double> softSigma;  // --soft SIGMA: control points as priors, world units
  double huberPixels = 1;           // --huber PX: scale of the robust loss
  bool refineFocal = false;         // --focal
};

// `modrin-cli info PROJECT`: one line per photo, then the counts of the model.
int RunInfo(const std::string& projectPath, const Options& options, std::ostream& out,
            std::ostream& err);

// `modrin-cli resave PROJECT OUT`: opens PROJECT with its images and writes OUT in the current
// format through the project's Save.
int RunResave(const std::string& projectPath, const std::string& outPath, const Options& options,
              std::ostream& out, std::ostream& err);

// `modrin-cli calibrate PROJECT`: opens PROJECT with its images, makes the chosen photos the
// pending ones, runs the calibration and prints one line per solve as it ends (a photo
// rejected in one pass is solved again in the next while a pass calibrates some photo), a note
// for each chosen photo that could not be solved, and a summary. Ctrl-C (SIGINT) stops the
// run: a search under way ends with the pose found so far, judged like any other, and no
// further photo is started. The project is then saved to outPath, or in place, also after
// Ctrl-C. Returns 0 once saved; 1 with a message on `err` when the project cannot be opened, a
// listed index is not a photo of it or a --check id not a real position (nothing is run or
// saved), or saving fails. With check points, a last line gives their typed-to-computed
// distances.
int RunCalibrate(const std::string& projectPath, const CalibrateOptions& calibrate,
                 const Options& options, std::ostream& out, std::ostream& err);

// `modrin-cli export PROJECT OUT`: opens PROJECT with its images, runs the model update
// (coordinates, faces, meshes) and writes the model to OUT, whose extension (.obj with its .mtl
// beside it, .wrl or .x) picks the format; prints the counts. Refuses another extension before
// anything is opened or written.
int RunExport(const std::string& projectPath, const std::string& outPath, const Options& options,
              std::ostream& out, std::ostream& err);

// `modrin-cli report PROJECT`: opens PROJECT with its images and prints the residual tables of
// its calibrated photos and of its positions with 3D points, worst first, and a summary line.
// Changes nothing. Returns 1 with a message when the project cannot be opened or a --check id is
// not a real position.
int RunReport(const std::string& projectPath, const ReportOptions& report, const Options& options,
              std::ostream& out, std::ostream& err);

// `modrin-cli refine PROJECT`: opens PROJECT with its images, prints the photo table and summary
// of the residual report, refines every calibrated photo's pose and every position's point
// together (engine::Refine), prints the whole report after it and saves the project to outPath
// or in place. Ctrl-C cancels; a refinement that is cancelled or cannot run (its message is
// printed) changes and saves nothing and returns 1, as do the failures of RunCalibrate.
int RunRefine(const std::string& projectPath, const RefineCommandOptions& refine,
              const Options& options, std::ostream& out, std::ostream& err);

// `modrin-cli web PROJECT OUT.html`: checks `settings` (whose fileName is OUT.html) before
// anything is opened, opens PROJECT with its images, runs the model update and writes the web
// page with its model, model script and viewer scripts (exporters::WriteWebPage), drawing a
// progress bar while the textures are shrunk; prints the files written. On any failure nothing
// is written and the status is 1.
int RunWeb(const std::string& projectPath, const exporters::WebExportSettings& settings,
           const Options& options, std::ostream& out, std::ostream& err);

// Parses the arguments (without the program name) and runs the command. Returns the exit status.
// `errIsTerminal`: the error stream is a terminal, so long commands draw a progress bar on it.
int Main(const std::vector<std::string>& args, const std::string& executableDir, std::ostream& out,
         std::ostream& err, bool errIsTerminal = false);

}  // namespace modrin::cli
