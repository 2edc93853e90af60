#include "views2d/colour_button.h"

#include <QColorDialog>
#include <QPixmap>

namespace modrin::views2d {

namespace {

constexpr int kSwatch = 18;

std::optional<QColor> AskColour(const QColor& start, QWidget* parent) {
  const QColor chosen = QColorDialog::getColor(start, parent);
  if (!chosen.isValid()) return std::nullopt;
  return chosen;
}

}  // namespace

ColourButton::ColourButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent), chooser_(AskColour) {
  setIconSize(QSize(kSwatch, kSwatch));
  connect(this, &QPushButton::clicked, this, &ColourButton::Choose);
  SetColour(Qt::black);
}

void ColourButton::SetColour(const QColor& colour) {
  colour_ = colour;
  QPixmap swatch(kSwatch, kSwatch);
  swatch.fill(colour);
  setIcon(QIcon(swatch));
}

void ColourButton::Choose() {
  if (const std::optional<QColor> chosen = chooser_(colour_, window())) {
    SetColour(*chosen);
    emit colourChanged(*chosen);
  }
}

}  // namespace modrin::views2d
