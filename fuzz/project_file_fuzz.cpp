// Reads arbitrary bytes as a project file, then checks that what is written reads back to the
// same text: numbers are written with fixed decimals, and reading such a number back gives a
// value that prints to the same digits. The older two-photo format may give several objects the
// same empty name, which the current format makes unique on reading; so for such input only
// the second round trip has to be stable.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "images/text_scanner.h"
#include "model/project.h"
#include "model/project_file.h"

namespace {

using modrin::model::Project;

// Reads `text` into a fresh project and writes it again; aborts when the reader refuses text
// this program wrote.
std::string RoundTrip(const std::string& text) {
  Project project;
  if (!modrin::model::ReadProjectText(project, text)) std::abort();
  return modrin::model::WriteProjectText(project);
}

// Reads `input` as a stream handed over `piece` bytes at a time; empty when refused.
std::string StreamedText(std::string_view input, std::size_t piece) {
  std::size_t at = 0;
  modrin::images::TextScanner in([&](char* buffer, std::size_t room) {
    const std::size_t n = std::min({piece, room, input.size() - at});
    std::copy_n(input.data() + at, n, buffer);
    at += n;
    return n;
  });
  Project project;
  if (!modrin::model::ReadProject(project, in)) return {};
  return modrin::model::WriteProjectText(project);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Project project;
  const bool read = modrin::model::ReadProjectText(project, input);
  const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 17;
  if (StreamedText(input, piece) != (read ? modrin::model::WriteProjectText(project) : "")) {
    std::abort();
  }
  if (!read) return 0;
  const std::string first = modrin::model::WriteProjectText(project);
  const std::string second = RoundTrip(first);
  std::size_t bodyStart = 0;
  const bool current = modrin::model::ReadHeaderVersion(input, bodyStart) >= 3.0f;
  if (current && second != first) std::abort();
  if (RoundTrip(second) != second) std::abort();
  return 0;
}
