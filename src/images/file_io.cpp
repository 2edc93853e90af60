#include "images/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace modrin::images {

namespace {

std::string SystemError() { return std::strerror(errno); }

bool WriteAll(int fd, const std::string& contents) {
  std::size_t written = 0;
  while (written < contents.size()) {
    ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

InputFile OpenInputFile(const std::string& path, std::string& error) {
  InputFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = SystemError();
    return nullptr;
  }
  struct stat info {};
  if (::fstat(::fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
    error = "it is a folder";
    return nullptr;
  }
  return file;
}

bool ReadWholeFile(const std::string& path, std::string& contents, std::string& error) {
  InputFile file = OpenInputFile(path, error);
  if (!file) return false;
  contents.clear();
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) contents.append(buffer, n);
  if (std::ferror(file.get())) {
    error = SystemError();
    return false;
  }
  return true;
}

namespace {

// Writes `contents` to a new temporary file beside `path` and flushes it to disk; its name goes
// to `temporary`. On failure nothing is left behind.
bool WriteTemporaryBeside(const std::string& path, const std::string& contents,
                          std::string& temporary, std::string& error) {
  // The temporary file is created with mode 0666 so the umask applies as to any new file; an
  // existing target's permissions are carried over.
  static std::atomic<unsigned> counter{0};
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = SystemError();
    return false;
  }
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) ::fchmod(fd, existing.st_mode & 07777);
  bool ok = WriteAll(fd, contents) && ::fsync(fd) == 0;
  if (!ok) error = SystemError();
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = SystemError();
  }
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& contents, std::string& error) {
  std::string failedPath;
  return WriteFilesAtomically({{path, contents}}, failedPath, error);
}

bool WriteFilesAtomically(const std::vector<FileContents>& files, std::string& failedPath,
                          std::string& error) {
  std::vector<std::string> temporaries;
  auto fail = [&](const std::string& path, std::size_t from) {
    failedPath = path;
    for (std::size_t i = from; i < temporaries.size(); ++i) ::unlink(temporaries[i].c_str());
    return false;
  };
  // A folder in a file's place would refuse the rename only after the files before it were
  // replaced.
  for (const FileContents& file : files) {
    struct stat existing {};
    if (::stat(file.path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
      error = "it is a folder";
      return fail(file.path, 0);
    }
  }
  for (const FileContents& file : files) {
    std::string temporary;
    if (!WriteTemporaryBeside(file.path, file.contents, temporary, error)) {
      return fail(file.path, 0);
    }
    temporaries.push_back(std::move(temporary));
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (::rename(temporaries[i].c_str(), files[i].path.c_str()) != 0) {
      error = SystemError();
      return fail(files[i].path, i);
    }
  }
  return true;
}

}  // namespace modrin::images
