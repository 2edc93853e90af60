#pragma once

#include <filesystem>
#include <string>

namespace modrin::testing {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name, as a string.
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Reads a whole file as bytes into a string; empty when it cannot be read.
std::string ReadFileText(const std::string& path);
// Writes text to a file, replacing it. Returns false on failure.
bool WriteFileText(const std::string& path, const std::string& text);

}  // namespace modrin::testing
