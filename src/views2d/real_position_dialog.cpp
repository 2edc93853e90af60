#include "views2d/real_position_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <charconv>
#include <cmath>
#include <string>

#include "engine/geometry/camera_record.h"

namespace modrin::views2d {

RealPositionDialog::RealPositionDialog(const std::array<double, 3>& shown, QWidget* parent)
    : QDialog(parent), coordinates_(shown) {
  setWindowTitle(tr("Set real position"));
  auto* form = new QFormLayout;
  const char* labels[] = {"X", "Y", "Z"};
  const int ids[] = {kXField, kYField, kZField};
  for (std::size_t axis = 0; axis < 3; ++axis) {
    auto* edit = new QLineEdit(FieldText(shown[axis]), this);
    shownTexts_[axis] = edit->text();
    edit->setObjectName(QString::number(ids[axis]));
    form->addRow(tr(labels[axis]), edit);
    fields_[axis] = edit;
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  fields_[0]->selectAll();
  fields_[0]->setFocus();
}

QString RealPositionDialog::FieldText(double value) {
  if (value == engine::UnknownCoordinate || !std::isfinite(value)) return QString();
  char text[512];
  const auto result =
      std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed, 3);
  std::string shown(text, result.ptr);
  // Thousandths without the zeros that end them: 9.7 shows as "9.7", 12 as "12".
  shown.erase(shown.find_last_not_of('0') + 1);
  if (shown.back() == '.') shown.pop_back();
  if (shown == "-0") shown = "0";
  return QString::fromStdString(shown);
}

std::optional<double> RealPositionDialog::ParseField(const QString& text) {
  const std::string trimmed = text.trimmed().toStdString();
  if (trimmed.empty()) return engine::UnknownCoordinate;
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  // from_chars takes no leading '+'; a user may type one.
  if (*begin == '+' && end - begin > 1 && begin[1] != '-') ++begin;
  double value = 0;
  const auto result = std::from_chars(begin, end, value);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

void RealPositionDialog::accept() {
  for (std::size_t axis = 0; axis < 3; ++axis) {
    // A field left as it was shown keeps its value exactly, not the thousandths it shows.
    if (fields_[axis]->text() == shownTexts_[axis]) continue;
    const std::optional<double> value = ParseField(fields_[axis]->text());
    if (!value) {
      QMessageBox::warning(this, QString(), tr("Please enter a number."));
      fields_[axis]->selectAll();
      fields_[axis]->setFocus();
      return;
    }
    coordinates_[axis] = *value;
  }
  QDialog::accept();
}

}  // namespace modrin::views2d
