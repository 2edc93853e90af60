#include "views2d/number_field.h"

#include <QDoubleValidator>
#include <QLineEdit>
#include <QLocale>

namespace modrin::views2d {

namespace {

QLocale NumberLocale() {
  QLocale locale = QLocale::c();
  locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
  return locale;
}

}  // namespace

void SetNumberValidator(QLineEdit& edit, double bottom, double top) {
  // Six decimals are more than any size or focal length in millimetres needs.
  auto* validator = new QDoubleValidator(bottom, top, 6, &edit);
  validator->setNotation(QDoubleValidator::StandardNotation);
  validator->setLocale(NumberLocale());
  edit.setValidator(validator);
}

std::optional<double> NumberIn(const QLineEdit& edit) {
  if (!edit.hasAcceptableInput()) return std::nullopt;
  bool ok = false;
  const double value = NumberLocale().toDouble(edit.text(), &ok);
  if (!ok) return std::nullopt;
  return value;
}

}  // namespace modrin::views2d
