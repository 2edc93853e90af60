#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

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
// same folder ("<path>.tmp-<pid>-<n>"), is flushed to disk and renamed over the target. A
// writer killed before the rename leaves its temporary file, never a damaged target; after a
// successful write the temporary files beside `path` whose process is gone are removed. On
// failure returns false with a reason in `error`.
bool WriteFileAtomically(const std::string& path, const std::string& contents, std::string& error);

// A file to write: where, and its bytes.
struct FileContents {
  std::string path;
  std::string contents;
};

// Writes several files as WriteFileAtomically writes one, so that none is replaced unless all
// can be: every file goes to a temporary file beside it first, and only once all of them are
// on disk are they renamed over their targets. On failure the temporaries are removed, the
// file that failed is named in `failedPath` and the reason is in `error`; the targets are as
// they were. (Only a rename that fails, which a file system hardly ever does once the files
// are written beside their targets, leaves the files before it replaced.)
bool WriteFilesAtomically(const std::vector<FileContents>& files, std::string& failedPath,
                          std::string& error);

}  // namespace modrin::images
