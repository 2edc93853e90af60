#include "images/camera_database.h"

#include <locale.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>

#include "images/file_io.h"

#ifndef MODRIN_DATA_DIR
#define MODRIN_DATA_DIR "/usr/local/share/modrin"
#endif

namespace modrin::images {

namespace {

// A larger file is read only this far; what follows counts as cut off.
constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;

// White space as the C locale's isspace sees it, whatever the process locale.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Formatted-input matching over a text, with the rules of the C library's scanf in the C
// locale: white space in a pattern matches any run of white space in the text, including
// none; any other pattern character must match exactly.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool Match(std::string_view pattern) {
    for (const char p : pattern) {
      if (IsSpace(p)) {
        SkipSpace();
      } else if (pos_ < text_.size() && text_[pos_] == p) {
        ++pos_;
      } else {
        return false;
      }
    }
    return true;
  }

  // %[^"]: one or more characters up to the next double quote.
  bool NameUpToQuote(std::string& name) {
    const std::size_t end = std::min(text_.find('"', pos_), text_.size());
    if (end == pos_) return false;
    name.assign(text_.substr(pos_, end - pos_));
    pos_ = end;
    return true;
  }

  // %lf: leading white space, then the longest number strtod would read in the C locale.
  bool Number(double& value) {
    SkipSpace();
    std::size_t start = pos_;
    bool negative = false;
    if (start < text_.size() && (text_[start] == '+' || text_[start] == '-')) {
      negative = text_[start] == '-';
      ++start;
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + text_.size();
    if (first == last || *first == '+' || *first == '-') return false;
    std::from_chars_result result{};
    double magnitude = 0;
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
      result = std::from_chars(first + 2, last, magnitude, std::chars_format::hex);
      // "0x" without hex digits reads as the number 0 followed by the "x".
      if (result.ec == std::errc::invalid_argument) {
        result = std::from_chars(first, first + 1, magnitude);
      }
    } else {
      result = std::from_chars(first, last, magnitude);
    }
    if (result.ec == std::errc::invalid_argument) return false;
    if (result.ec == std::errc::result_out_of_range) {
      // from_chars leaves the value alone; strtod saturates to infinity or underflows to
      // (nearly) zero. Only absurd files get here.
      magnitude = StrtodClassic(std::string(first, result.ptr));
    }
    value = negative ? -magnitude : magnitude;
    pos_ = static_cast<std::size_t>(result.ptr - text_.data());
    return true;
  }

 private:
  void SkipSpace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  }

  static double StrtodClassic(const std::string& text) {
    static const locale_t classic = newlocale(LC_ALL_MASK, "C", locale_t{});
    return classic != locale_t{} ? strtod_l(text.c_str(), nullptr, classic) : 0.0;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// printf's "%f": six decimals, the C locale's decimal point.
void AppendFixed(std::string& out, double value) {
  char buffer[400];  // the largest double has 309 integer digits
  const std::to_chars_result result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  out.append(buffer, result.ptr);
}

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
  Scanner scanner(text);
  std::string name;
  for (;;) {
    double width = 0;
    double height = 0;
    if (!scanner.Match("\"") || !scanner.NameUpToQuote(name)) break;
    // The closing quote can only be missing at the end of the text, where the next step
    // fails anyway.
    scanner.Match("\"\n");
    if (!scanner.Match("\tCell Height: ") || !scanner.Number(height) || !scanner.Match("\n")) {
      break;
    }
    if (!scanner.Match("\tCell Width : ") || !scanner.Number(width) || !scanner.Match("\n")) {
      break;
    }
    scanner.Match("\n");
    // The first block of a name wins.
    Insert(name, width, height, false);
  }
  return true;
}

bool CameraDatabase::Load(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return false;
  std::string text;
  char chunk[65536];
  while (text.size() < kMaxFileBytes) {
    const std::size_t count = std::fread(chunk, 1, sizeof chunk, file.get());
    if (count == 0) break;
    text.append(chunk, count);
  }
  LoadFromText(text);
  return true;
}

std::string CameraDatabase::ToText() const {
  std::string text;
  for (const auto& [name, entry] : entries_) {
    text += '"';
    text += name;
    text += "\"\n\tCell Height: ";
    AppendFixed(text, entry.cellHeight);
    text += "\n\tCell Width : ";
    AppendFixed(text, entry.cellWidth);
    text += "\n\n";
  }
  return text;
}

bool CameraDatabase::Save(const std::string& path) const {
  if (path.empty()) return false;
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
