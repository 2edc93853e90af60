#include "cli/cli.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <ostream>

#include "images/camera_database.h"
#include "images/number_text.h"
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
    "\n"
    "Options:\n"
    "  --cameras FILE       read the camera database from FILE (never written) instead of\n"
    "                       the per-user one\n"
    "  --help               show this help\n"
    "  --version            show the program version\n";

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

// A double with a fixed number of decimals, whatever the process locale.
std::string Fixed(double value, int decimals) {
  std::string text;
  images::AppendFixed(text, value, decimals);
  return text;
}

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
  if (std::filesystem::is_directory(path)) {
    error = "cannot open \"" + path + "\": it is a folder";
    return false;
  }
  document.SetProjectPath(path);
  model::FileResult result = document.OpenProjectFile();
  if (!result.ok()) {
    error = result.error;
    return false;
  }
  return true;
}

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

}  // namespace

int RunInfo(const std::string& projectPath, const Options& options, std::ostream& out,
            std::ostream& err) {
  CliHost host(err);
  model::ProjectDocument document(host);
  CameraDatabaseSession cameras(document.project().cameraDatabase, options);
  std::string error;
  if (!cameras.Load(error) || !OpenProject(document, projectPath, error)) return Fail(err, error);
  const auto& photos = document.project().photos;
  for (std::size_t i = 0; i < photos.size(); ++i) PrintPhoto(out, i, *photos[i]);
  PrintCounts(out, document.project());
  cameras.SaveIfChanged(err);
  return 0;
}

int RunResave(const std::string& projectPath, const std::string& outPath, const Options& options,
              std::ostream& out, std::ostream& err) {
  CliHost host(err);
  model::ProjectDocument document(host);
  CameraDatabaseSession cameras(document.project().cameraDatabase, options);
  std::string error;
  if (!cameras.Load(error) || !OpenProject(document, projectPath, error)) return Fail(err, error);
  document.SetProjectPath(outPath);
  document.SetModified(true);
  model::FileResult saved = document.Save();
  if (!saved.ok()) return Fail(err, saved.error);
  out << "Saved " << outPath << '\n';
  cameras.SaveIfChanged(err);
  return 0;
}

int Main(const std::vector<std::string>& args, const std::string& executableDir, std::ostream& out,
         std::ostream& err) {
  Options options;
  options.executableDir = executableDir;
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
    if (arg == "--cameras") {
      if (i + 1 == args.size()) return Fail(err, "--cameras needs a file name");
      options.camerasFile = args[++i];
    } else if (arg.starts_with("--cameras=")) {
      options.camerasFile = arg.substr(10);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Fail(err, "unknown option \"" + arg + "\" (see modrin-cli --help)");
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty()) {
    err << kUsage;
    return 2;
  }
  const std::string& command = words[0];
  if (command == "info") {
    if (words.size() != 2) return Fail(err, "info takes one project file");
    return RunInfo(words[1], options, out, err);
  }
  if (command == "resave") {
    if (words.size() != 3) return Fail(err, "resave takes a project file and an output file");
    return RunResave(words[1], words[2], options, out, err);
  }
  return Fail(err, "unknown command \"" + command + "\" (see modrin-cli --help)");
}

}  // namespace modrin::cli
