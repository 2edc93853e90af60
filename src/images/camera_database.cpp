#include "images/camera_database.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "images/file_io.h"
#include "images/number_text.h"
#include "images/text_scanner.h"

#ifndef MODRIN_DATA_DIR
#define MODRIN_DATA_DIR "/usr/local/share/modrin"
#endif

namespace modrin::images {

namespace {

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(path, error);
}

}  // namespace

void CameraDatabase::Insert(const std::string& name, double cellWidth, double cellHeight,
                            bool replace) {
  // An empty name is no camera model; it would also restart an enumeration by NextName.
  if (name.empty()) return;
  auto [it, inserted] = entries_.try_emplace(name);
  if (inserted) it->second.name = name;
  if (inserted || replace) {
    it->second.cellWidth = cellWidth;
    it->second.cellHeight = cellHeight;
  }
}

CameraEntry* CameraDatabase::Find(const std::string& name) {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : &it->second;
}

const CameraEntry* CameraDatabase::Find(const std::string& name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : &it->second;
}

bool CameraDatabase::Get(const std::string& name, double& cellWidth, double& cellHeight) const {
  const CameraEntry* entry = Find(name);
  if (entry == nullptr) return false;
  cellWidth = entry->cellWidth;
  cellHeight = entry->cellHeight;
  return true;
}

std::optional<std::string> CameraDatabase::NextName(const std::string& name) const {
  auto it = name.empty() ? entries_.begin() : entries_.upper_bound(name);
  if (it == entries_.end()) return std::nullopt;
  return it->first;
}

void CameraDatabase::MergeFrom(const CameraDatabase& other) {
  if (&other == this) return;
  for (const auto& [name, entry] : other.entries_) {
    Insert(name, entry.cellWidth, entry.cellHeight, true);
  }
}

bool CameraDatabase::LoadFromText(const std::string& text) {
  TextScanner in(text);
  std::size_t blockStart = 0;
  for (;;) {
    std::string_view nameRead;
    double width = 0;
    double height = 0;
    blockStart = in.Position();
    if (!in.MatchLiteral("\"") || !in.ReadUntil('"', nameRead)) break;
    const std::string name(nameRead);
    // The closing quote can only be missing at the end of the text, where the next step
    // fails anyway.
    in.MatchLiteral("\"\n");
    if (!in.MatchLiteral("\tCell Height: ") || !in.ReadDouble(height) || !in.MatchLiteral("\n")) {
      break;
    }
    if (!in.MatchLiteral("\tCell Width : ") || !in.ReadDouble(width) || !in.MatchLiteral("\n")) {
      break;
    }
    in.MatchLiteral("\n");
    // The first block of a name wins.
    Insert(name, width, height, false);
  }
  // Read to the end when nothing but white space is left from where the failed block began
  // (each block's last pattern has taken the white space behind it already).
  TextScanner rest(std::string_view(text).substr(blockStart));
  rest.SkipWhitespace();
  return rest.AtEnd();
}

bool CameraDatabase::Load(const std::string& path) {
  std::string text;
  std::string error;
  if (!ReadWholeFile(path, text, error)) return false;
  if (!LoadFromText(text) && !IsPartlyReadFile(path)) {
    std::error_code failed;
    const std::filesystem::path file = std::filesystem::canonical(path, failed);
    partlyReadFiles_.push_back(failed ? path : file.string());
  }
  return true;
}

bool CameraDatabase::IsPartlyReadFile(const std::string& path) const {
  if (partlyReadFiles_.empty() || path.empty()) return false;
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path file = fs::canonical(path, error);
  if (error) file = fs::absolute(path, error).lexically_normal();
  for (const std::string& partlyRead : partlyReadFiles_) {
    // The same name, or another name of the same file (a hard link).
    std::error_code unknown;
    if (file == partlyRead || fs::equivalent(file, partlyRead, unknown)) return true;
  }
  return false;
}

std::string CameraDatabase::ToText() const {
  std::string text;
  for (const auto& [name, entry] : entries_) {
    text += '"';
    text += name;
    text += "\"\n\tCell Height: ";
    AppendFixed(text, entry.cellHeight, 6);
    text += "\n\tCell Width : ";
    AppendFixed(text, entry.cellWidth, 6);
    text += "\n\n";
  }
  return text;
}

bool CameraDatabase::Save(const std::string& path) const {
  if (path.empty() || IsPartlyReadFile(path)) return false;
  namespace fs = std::filesystem;
  std::error_code error;
  // Through a symbolic link to the file it names, so the link survives.
  fs::path target = fs::canonical(path, error);
  if (error) target = path;
  const fs::path folder = target.parent_path();
  if (!folder.empty()) {
    fs::create_directories(folder, error);
    if (error) return false;
  }

  std::string reason;
  return WriteFileAtomically(target.string(), ToText(), reason);
}

std::string UserCameraDatabasePath() {
  std::string base;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  // Relative values are invalid and ignored.
  if (dataHome != nullptr && dataHome[0] == '/') {
    base = dataHome;
  } else {
    const char* home = std::getenv("HOME");
    std::string homeDir = home != nullptr ? home : "";
    if (homeDir.empty()) {
      passwd entry{};
      passwd* found = nullptr;
      std::string buffer(16384, '\0');
      if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
          found != nullptr && found->pw_dir != nullptr) {
        homeDir = found->pw_dir;
      }
    }
    if (homeDir.empty()) return {};
    base = homeDir + "/.local/share";
  }
  return base + "/Modrin/Cameras.txt";
}

std::string CameraDatabaseReadPath(const std::string& executableDir) {
  const std::string user = UserCameraDatabasePath();
  if (IsRegularFile(user)) return user;
  const std::string beside = executableDir.empty()
                                 ? "Cameras.txt"
                                 : (std::filesystem::path(executableDir) / "Cameras.txt").string();
  if (IsRegularFile(beside)) return beside;
  const std::string installed = MODRIN_DATA_DIR "/Cameras.txt";
  if (IsRegularFile(installed)) return installed;
  return {};
}

}  // namespace modrin::images
