#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <string>

namespace modrin::images {

// Appends `value` as printf's "%.<precision>f" writes it in the C locale ("-0.000", "inf",
// "nan" and "-nan" included), whatever the process locale is.
inline void AppendFixed(std::string& out, double value, int precision) {
  // The largest double takes 309 digits before the point.
  std::array<char, 400> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, precision);
  out.append(buffer.data(), result.ptr);
}

inline void AppendInt(std::string& out, std::int64_t value) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  out.append(buffer.data(), result.ptr);
}

}  // namespace modrin::images
