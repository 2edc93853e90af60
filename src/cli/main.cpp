#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

std::string ExecutableDir(const char* argv0) {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) self = std::filesystem::absolute(argv0, error);
  return self.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  // The user's locale, as the desktop program has it; every file is still written and read
  // with a decimal point.
  std::setlocale(LC_ALL, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  return modrin::cli::Main(args, ExecutableDir(argv[0]), std::cout, std::cerr,
                           isatty(STDERR_FILENO) == 1);
}
