#pragma once

#include <QColor>
#include <QPushButton>
#include <functional>
#include <optional>

namespace modrin::views2d {

// A small button showing its colour as an 18 x 18 square; a click offers a colour chooser
// preset with it and takes the chosen colour.
class ColourButton : public QPushButton {
  Q_OBJECT

 public:
  // Asks the user for a colour, starting from the given one; empty when cancelled.
  using ColourChooser = std::function<std::optional<QColor>(const QColor&, QWidget* parent)>;

  explicit ColourButton(const QString& text, QWidget* parent = nullptr);

  QColor colour() const { return colour_; }
  // Shows `colour`; emits nothing.
  void SetColour(const QColor& colour);
  // Replaces the colour chooser (the platform's colour dialog).
  void SetChooser(ColourChooser chooser) { chooser_ = std::move(chooser); }

 signals:
  // The user chose a colour.
  void colourChanged(const QColor& colour);

 private:
  void Choose();

  QColor colour_;
  ColourChooser chooser_;
};

}  // namespace modrin::views2d
