#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace modrin::images {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for reading bytes. Null, with a reason in `error`, when it cannot be opened or
// is a folder.
InputFile OpenInputFile(const std::string& path, std::string& error);

// Reads a whole file as bytes. On failure returns false with a reason in `error`.
bool ReadWholeFile(const std::string& path, std::string& contents, std::string& error);

// Replaces the file at `path` with `contents` so that a reader never sees a half-written file
// and a failed write leaves the old file as it was: the text goes to a temporary file in the
// same folder, is flushed to disk and renamed over the target. On failure returns false with a
// reason in `error`.
bool WriteFileAtomically(const std::string& path, const std::string& contents, std::string& error);

}  // namespace modrin::images
