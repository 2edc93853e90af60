// Loads arbitrary text as a camera database, then checks that what was read survives a
// write and a second read unchanged, and that the written text is read to its end.

#include <cstddef>
#include <cstdint>
#include <string>

#include "images/camera_database.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  modrin::images::CameraDatabase database;
  database.LoadFromText(std::string(reinterpret_cast<const char*>(data), size));
  const std::string text = database.ToText();
  modrin::images::CameraDatabase reloaded;
  if (!reloaded.LoadFromText(text)) __builtin_trap();
  if (reloaded.ToText() != text) __builtin_trap();
  return 0;
}
