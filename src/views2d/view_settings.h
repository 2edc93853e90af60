#pragma once

#include <QColor>
#include <QFont>

namespace modrin::views2d {

// How one photo view draws its marks. Not saved: every new view starts with these values, and
// the "2D view parameters" dialog edits them.
struct ViewSettings {
  QColor currentColour{0, 255, 0};         // the selected position and the cursor marker
  QColor defaultColour{255, 196, 69};      // positions with known coordinates, and every edge
  QColor calibrationColour{38, 143, 241};  // positions with real (typed) coordinates
  QColor incompleteColour{222, 0, 0};      // positions whose coordinates are not known
  QColor labelColour{255, 0, 0};           // the position-id labels
  QFont labelFont = DefaultLabelFont();
  bool showIds = false;  // draw the position-id labels
  // Draw a cross where a position's 3D point falls in a calibrated photo, when that is more
  // than kReprojectionShown_px from its mark: a mis-marked point shows where it is.
  bool showReprojections = true;
  static constexpr double kReprojectionShown_px = 2;
  QColor reprojectionColour{255, 0, 255};
  int pointSize = 2;     // half side of a position square, screen pixels
  int pointWidth = 1;    // pen width of the position squares
  int edgeWidth = 1;     // pen width of the edges

  // "Arial", 14 pixels high, normal weight; the font matcher picks the nearest installed face.
  static QFont DefaultLabelFont() {
    QFont font("Arial");
    font.setPixelSize(14);
    font.setWeight(QFont::Normal);
    return font;
  }

  friend bool operator==(const ViewSettings&, const ViewSettings&) = default;
};

}  // namespace modrin::views2d
