#pragma once

#include <QRect>
#include <QSize>
#include <initializer_list>
#include <utility>

class QFont;

namespace modrin::app {

// Converts dialog units to pixels for one dialog font: a horizontal unit is a quarter of the
// font's average character width, a vertical unit an eighth of its height, so that a dialog
// laid out in these units keeps its proportions under any font and screen.
class DialogUnits {
 public:
  // `charWidth_px` is the average width of a character, `charHeight_px` the font's height.
  DialogUnits(int charWidth_px, int charHeight_px);
  // The units of `font`; the average width is that of the 52 Latin letters, rounded.
  static DialogUnits ForFont(const QFont& font);
  // The units of `font`, widened where needed so that each caption fits the width in units
  // given for it. Rectangles drawn for a narrower font keep their proportions and cut no text.
  static DialogUnits ForFontFitting(const QFont& font,
                                    std::initializer_list<std::pair<const char*, int>> captions);

  int X(int units) const;
  int Y(int units) const;
  QSize Size(int width, int height) const { return {X(width), Y(height)}; }
  // The pixel rectangle of the one with left, top, width and height in dialog units.
  QRect Rect(int left, int top, int width, int height) const {
    return {X(left), Y(top), X(width), Y(height)};
  }

 private:
  int charWidth_px_;
  int charHeight_px_;
};

}  // namespace modrin::app
