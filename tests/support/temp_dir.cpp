#include "temp_dir.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace modrin::testing {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = std::filesystem::temp_directory_path() /
                     ("modrin-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++) +
                      "-" + std::to_string(random() % 100000));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(const std::string& name) const { return (path_ / name).string(); }

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace modrin::testing
