#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace modrin::cli {

// Options shared by every command.
struct Options {
  std::string camerasFile;  // --cameras: read this camera database, never write it
  std::string executableDir;
};

// `modrin-cli info PROJECT`: one line per photo, then the counts of the model.
int RunInfo(const std::string& projectPath, const Options& options, std::ostream& out,
            std::ostream& err);

// `modrin-cli resave PROJECT OUT`: opens PROJECT with its images and writes OUT in the current
// format through the project's Save.
int RunResave(const std::string& projectPath, const std::string& outPath, const Options& options,
              std::ostream& out, std::ostream& err);

// Parses the arguments (without the program name) and runs the command. Returns the exit status.
int Main(const std::vector<std::string>& args, const std::string& executableDir, std::ostream& out,
         std::ostream& err);

}  // namespace modrin::cli
