#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <optional>

class QLineEdit;

namespace modrin::views2d {

// "Set real position": the small dialog asking for a position's real X, Y and Z. A field left
// empty stands for a coordinate that is not given (99999); any other text must be a number,
// written with a decimal point whatever the language of the desktop.
class RealPositionDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kXField = 1073;
  static constexpr int kYField = 1074;
  static constexpr int kZField = 1075;

  // Shows `shown` to thousandths, 99999 as an empty field.
  explicit RealPositionDialog(const std::array<double, 3>& shown, QWidget* parent = nullptr);

  // Once the dialog was accepted: the coordinates typed, and for a field left as it was shown
  // the value given to the dialog, unrounded.
  std::array<double, 3> coordinates() const { return coordinates_; }
  QLineEdit* field(int axis) const { return fields_[static_cast<std::size_t>(axis)]; }

  // The text a field shows for `value`: empty for 99999, else the value rounded to
  // thousandths without trailing zeros ("9.7", "-2", "1.235").
  static QString FieldText(double value);
  // The value of a field's text: 99999 when empty; none when it is not a number.
  static std::optional<double> ParseField(const QString& text);

  void accept() override;

 private:
  std::array<QLineEdit*, 3> fields_{};
  std::array<QString, 3> shownTexts_;
  std::array<double, 3> coordinates_{};
};

}  // namespace modrin::views2d
