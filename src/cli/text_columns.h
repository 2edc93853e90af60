#pragma once

// Number and column text of the tool's tables, the same in every process locale.

#include <cstddef>
#include <string>

#include "images/number_text.h"
#include "model/photo.h"
#include "model/project_document.h"

namespace modrin::cli {

// A double with a fixed number of decimals.
inline std::string Fixed(double value, int decimals) {
  std::string text;
  images::AppendFixed(text, value, decimals);
  return text;
}

inline std::string PadLeft(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

inline std::string PadRight(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

// "Photo 3: name.jpg", the start of every line about a photo.
inline std::string PhotoLabel(std::size_t index, const model::Photo& photo) {
  return "Photo " + std::to_string(index) + ": " + model::FileNamePart(photo.path);
}

}  // namespace modrin::cli
