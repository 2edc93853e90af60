#include "images/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
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

// The process id in the name of a temporary file `name` of WriteTemporaryBeside for the target
// named `target` (no folder): "<target>.tmp-<pid>-<counter>". Zero for any other name.
pid_t TemporaryWriter(const std::string& name, const std::string& target) {
  const std::string prefix = target + ".tmp-";
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  std::size_t at = prefix.size();
  pid_t pid = 0;
  for (; at < name.size() && name[at] >= '0' && name[at] <= '9'; ++at) {
    if (pid > 1'000'000'000) return 0;
    pid = pid * 10 + (name[at] - '0');
  }
  if (at == prefix.size() || at >= name.size() || name[at] != '-' || at + 1 == name.size()) {
    return 0;
  }
  for (++at; at < name.size(); ++at) {
    if (name[at] < '0' || name[at] > '9') return 0;
  }
  return pid;
}

// Removes the temporary files beside `path` that a writer killed before its rename left behind
// (SIGKILL, a crash, a power cut), so they do not pile up. A temporary file is stale when the
// process its name holds no longer exists; those of running processes, this one included, are
// theirs to finish.
void RemoveStaleTemporaries(const std::string& path) {
  const auto cut = path.find_last_of('/');
  const std::string folder = cut == std::string::npos ? "." : path.substr(0, cut);
  const std::string target = cut == std::string::npos ? path : path.substr(cut + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t pid = TemporaryWriter(entry->d_name, target);
    if (pid <= 0 || pid == self) continue;
    if (::kill(pid, 0) != 0 && errno == ESRCH) ::unlink((folder + "/" + entry->d_name).c_str());
  }
  ::closedir(dir);
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
  for (const FileContents& file : files) RemoveStaleTemporaries(file.path);
  return true;
}

}  // namespace modrin::images
