#include "model/recovery_store.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "images/file_io.h"
#include "model/project_file.h"

namespace modrin::model {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Linux file names hold at most 255 bytes; longer names are cut well below that.
constexpr std::size_t kLongestName = 240;
constexpr std::size_t kCutNameTail = 200;

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

std::uint64_t Fnv1a64(const std::string& text) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3u;
  }
  return hash;
}

// The time a file was last changed, or none when it cannot be read.
std::optional<std::filesystem::file_time_type> LastWrite(const std::string& path) {
  std::error_code error;
  auto time = std::filesystem::last_write_time(path, error);
  if (error) return std::nullopt;
  return time;
}

}  // namespace

std::string RecoveryFolder(const char* stateHome, const char* home) {
  // A relative XDG_STATE_HOME is to be ignored, as the base-directory rules say.
  if (stateHome != nullptr && stateHome[0] == '/') {
    return std::string(stateHome) + "/modrin/recovery";
  }
  if (home != nullptr && home[0] != '\0')
    return std::string(home) + "/.local/state/modrin/recovery";
  return {};
}

std::string RecoveryFolder() {
  return RecoveryFolder(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
}

std::string RecoveryFileName(const std::string& projectPath) {
  if (projectPath.empty()) return "untitled";
  std::string name;
  for (char c : projectPath) {
    if (IsNameByte(c)) {
      name += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      name += '%';
      name += kHexDigits[byte >> 4];
      name += kHexDigits[byte & 15];
    }
  }
  if (name.size() <= kLongestName) return name;
  // The tail keeps the file name readable; it starts after a whole %XX. "~" is never in an
  // encoded name, so a cut name cannot equal one that was not cut.
  std::size_t start = name.size() - kCutNameTail;
  while (name[start - 1] == '%' || name[start - 2] == '%') ++start;
  std::string cut = name.substr(start) + "~";
  const std::uint64_t hash = Fnv1a64(projectPath);
  for (int shift = 60; shift >= 0; shift -= 4) cut += kHexDigits[(hash >> shift) & 15];
  return cut;
}

std::optional<RecoveryCopy> FindNewerRecoveryCopy(const std::string& folder,
                                                  const std::string& projectPath) {
  if (folder.empty()) return std::nullopt;
  const std::string copyPath = folder + "/" + RecoveryFileName(projectPath);
  const auto copyTime = LastWrite(copyPath);
  if (!copyTime) return std::nullopt;
  if (!projectPath.empty()) {
    const auto projectTime = LastWrite(projectPath);
    if (projectTime && *copyTime <= *projectTime) return std::nullopt;
  }
  return RecoveryCopy{copyPath, std::chrono::file_clock::to_sys(*copyTime)};
}

namespace {

// Reads the copy at `copyPath` into `project`; the project as it was on failure.
FileResult ReadRecoveryCopy(Project& project, const std::string& copyPath) {
  auto failed = [&](const std::string& reason) {
    return FileResult{FileResult::Status::Failed,
                      "Cannot read the recovery copy \"" + copyPath + "\": " + reason};
  };
  std::string text, error;
  if (!images::ReadWholeFile(copyPath, text, error)) return failed(error);
  // Copies are whole project files written by this program; anything else is not one, and
  // reading it would give an empty project without a word.
  if (text.rfind(ProjectFileHeader(), 0) != 0) return failed("it is not a Modrin project file");
  if (!ReadProjectText(project, text)) {
    return failed("it needs more meshes (objects x photos) than a project may hold");
  }
  return {};
}

}  // namespace

FileResult CheckRecoveryCopy(const std::string& copyPath) {
  Project scratch;
  return ReadRecoveryCopy(scratch, copyPath);
}

FileResult OpenRecoveryCopy(ProjectDocument& document, const std::string& projectPath,
                            const std::string& copyPath) {
  FileResult result = ReadRecoveryCopy(document.project(), copyPath);
  if (!result.ok()) return result;
  document.SetProjectPath(projectPath);
  document.LoadMissingImages();
  // Undo stops at the recovered project, which is not the one in the file.
  document.ResetHistory(false);
  document.SetModified(true);
  return result;
}

}  // namespace modrin::model
