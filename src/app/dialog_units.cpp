#include "app/dialog_units.h"

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdint>

namespace modrin::app {

namespace {

// value * numerator / denominator rounded to the nearest integer, halves away from zero.
int ScaleRounded(int value, int numerator, int denominator) {
  const std::int64_t product = std::int64_t{value} * numerator;
  const std::int64_t half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : -((-product + half) / denominator));
}

}  // namespace

DialogUnits::DialogUnits(int charWidth_px, int charHeight_px)
    : charWidth_px_(charWidth_px > 0 ? charWidth_px : 1),
      charHeight_px_(charHeight_px > 0 ? charHeight_px : 1) {}

DialogUnits DialogUnits::ForFont(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters_px =
      metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  // The mean over the 52 letters, rounded to the nearest pixel.
  return DialogUnits((letters_px / 26 + 1) / 2, metrics.height());
}

DialogUnits DialogUnits::ForFontFitting(
    const QFont& font, std::initializer_list<std::pair<const char*, int>> captions) {
  DialogUnits units = ForFont(font);
  const QFontMetrics metrics(font);
  for (const auto& [caption, width] : captions) {
    if (width <= 0) continue;
    // The widest line of the caption must fit `width` units: width * charWidth / 4 pixels.
    int widest_px = 0;
    for (const QString& line : QString::fromUtf8(caption).split('\n')) {
      widest_px = std::max(widest_px, metrics.horizontalAdvance(line));
    }
    units.charWidth_px_ = std::max(units.charWidth_px_, (widest_px * 4 + width - 1) / width);
  }
  return units;
}

int DialogUnits::X(int units) const { return ScaleRounded(units, charWidth_px_, 4); }

int DialogUnits::Y(int units) const { return ScaleRounded(units, charHeight_px_, 8); }

}  // namespace modrin::app
