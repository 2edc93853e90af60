#include "views2d/camera_parameters_dialog.h"

#include <QByteArray>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

#include "model/photo.h"
#include "model/project.h"
#include "views2d/number_field.h"

namespace modrin::views2d {

namespace {

// Sensor sides and the diagonal in millimetres. Sizes cannot be negative; the largest sensors
// of large-format cameras stay well below a metre.
constexpr double kMaxSide_mm = 1000;
constexpr double kMaxDiagonal_mm = 1500;  // above the diagonal of the largest sides

const char* const kRatios[] = {"1:1", "4:3", "3:2", "16:9"};

// v rounded half up to hundredths: trunc(v * 100 + 0.5) * 0.01. What the fields show is what
// the copy stores.
double RoundToHundredths(double value) { return std::trunc(value * 100 + 0.5) * 0.01; }

// "%.2f" in the C locale: QString::number never uses the process or Qt locale.
QString FormatHundredths(double value) { return QString::number(value, 'f', 2); }

// Reads one "%d" of sscanf at `pos`: white space, an optional sign, at least one digit.
// False when no digit follows or the number does not fit an int.
bool ScanInt(const std::string& text, std::size_t& pos, int& value) {
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  std::size_t start = pos;
  // from_chars takes a '-' but not a '+'.
  if (start < text.size() && text[start] == '+') ++start;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data() + start, end, value);
  if (result.ec != std::errc{}) return false;
  if (start > pos && text[start] == '-') return false;  // "+-1"
  pos = static_cast<std::size_t>(result.ptr - text.data());
  return true;
}

// "a:b" as sscanf's "%d:%d" reads it: the ':' right after the first number, white space allowed
// before either number, anything after the second. Null unless both numbers are read.
std::optional<std::pair<int, int>> ParseRatio(const std::string& text) {
  std::size_t pos = 0;
  int a = 0;
  int b = 0;
  if (!ScanInt(text, pos, a)) return std::nullopt;
  if (pos >= text.size() || text[pos] != ':') return std::nullopt;
  ++pos;
  if (!ScanInt(text, pos, b)) return std::nullopt;
  return std::pair{a, b};
}

// Names as the database holds them (bytes), shown as UTF-8, in the order of the shown text
// ignoring case: EXIF models come as "Canon ...", "NIKON ...", "PENTAX ...", and a list sorted
// by bytes would put every upper-case name before the others.
std::vector<std::string> SortedNames(const images::CameraDatabase& database) {
  std::vector<std::string> names;
  for (auto name = database.NextName(""); name; name = database.NextName(*name)) {
    names.push_back(*name);
  }
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) < 0;
  });
  return names;
}

QLineEdit* AddSizeRow(QGridLayout& grid, int row, const char* label, int id, double top) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::number(id));
  SetNumberValidator(*edit, 0, top);
  auto* text = new QLabel(label);
  text->setBuddy(edit);
  grid.addWidget(text, row, 0);
  grid.addWidget(edit, row, 1);
  grid.addWidget(new QLabel("mm"), row, 2);
  return edit;
}

QPushButton* MakeButton(const char* text, int id) {
  auto* button = new QPushButton(text);
  button->setObjectName(QString::number(id));
  // Enter must not press a button, not even the one that has the focus.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

}  // namespace

CameraParametersDialog::CameraParametersDialog(model::Project& project, HelpHandler help,
                                               QWidget* parent)
    : QDialog(parent), project_(project), help_(std::move(help)) {
  setWindowTitle("Camera parameters");
  // Modal to the main window only: the help window it opens on F1 stays usable.
  setWindowModality(Qt::WindowModal);

  camera_ = new QComboBox;
  camera_->setObjectName(QString::number(kCameraId));
  // A turn of the wheel takes the focus first, so that a size being typed is stored under the
  // camera it was typed for before another camera is shown.
  camera_->setFocusPolicy(Qt::WheelFocus);
  camera_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  camera_->setMinimumContentsLength(24);
  auto* cameraLabel = new QLabel("Camera");
  cameraLabel->setBuddy(camera_);

  auto* cellSize = new QGroupBox("Cell size");
  auto* grid = new QGridLayout(cellSize);
  widthEdit_ = AddSizeRow(*grid, 0, "Width", kWidthId, kMaxSide_mm);
  heightEdit_ = AddSizeRow(*grid, 1, "Height", kHeightId, kMaxSide_mm);
  diagonalEdit_ = AddSizeRow(*grid, 2, "Diagonal", kDiagonalId, kMaxDiagonal_mm);
  ratioCombo_ = new QComboBox;
  ratioCombo_->setObjectName(QString::number(kRatioId));
  ratioCombo_->setFocusPolicy(Qt::WheelFocus);
  ratioCombo_->setEditable(true);
  // A typed ratio is used as typed: no completion, and it never joins the list.
  ratioCombo_->setCompleter(nullptr);
  ratioCombo_->setInsertPolicy(QComboBox::NoInsert);
  for (const char* ratio : kRatios) ratioCombo_->addItem(ratio);
  auto* ratioLabel = new QLabel("Ratio");
  ratioLabel->setBuddy(ratioCombo_);
  grid->addWidget(ratioLabel, 3, 0);
  grid->addWidget(ratioCombo_, 3, 1);

  QPushButton* getFromImages = MakeButton("Get from images", kGetFromImagesId);
  QPushButton* ok = MakeButton("OK", kOkId);
  QPushButton* cancel = MakeButton("Cancel", kCancelId);

  auto* cameraRow = new QHBoxLayout;
  cameraRow->addWidget(cameraLabel);
  cameraRow->addWidget(camera_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(getFromImages);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(cameraRow);
  layout->addWidget(cellSize);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  setTabOrder(camera_, widthEdit_);
  setTabOrder(widthEdit_, heightEdit_);
  setTabOrder(heightEdit_, diagonalEdit_);
  setTabOrder(diagonalEdit_, ratioCombo_);
  setTabOrder(ratioCombo_, getFromImages);
  setTabOrder(getFromImages, ok);
  setTabOrder(ok, cancel);

  for (QLineEdit* edit : {widthEdit_, heightEdit_, diagonalEdit_}) edit->installEventFilter(this);
  connect(camera_, &QComboBox::activated, this, &CameraParametersDialog::OnCameraSelected);
  connect(ratioCombo_, &QComboBox::activated, this, &CameraParametersDialog::OnRatioChosen);
  connect(getFromImages, &QPushButton::clicked, this, &CameraParametersDialog::OnGetFromImages);
  connect(ok, &QPushButton::clicked, this, &CameraParametersDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &CameraParametersDialog::reject);
  auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(helpKey, &QShortcut::activated, this, [this] {
    if (help_) help_(kHelpTopic);
  });

  copy_.MergeFrom(project_.cameraDatabase);
  for (const std::string& name : SortedNames(copy_)) {
    camera_->addItem(QString::fromStdString(name), QByteArray::fromStdString(name));
  }
  camera_->setCurrentIndex(camera_->count() > 0 ? 0 : -1);
  ratioCombo_->setCurrentIndex(0);
  OnCameraSelected();
  UpdateDisplay();
}

void CameraParametersDialog::accept() {
  project_.cameraDatabase.MergeFrom(copy_);
  QDialog::accept();
}

void CameraParametersDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

bool CameraParametersDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    // Another window becoming active or a pop-up menu opening is no move to another field: the
    // edit gets the focus back as it was.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      if (watched == diagonalEdit_) {
        OnDiagonalLeft();
      } else if (watched == widthEdit_ || watched == heightEdit_) {
        OnSizeLeft();
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CameraParametersDialog::ReadFields() {
  if (auto width = NumberIn(*widthEdit_)) width_ = *width;
  if (auto height = NumberIn(*heightEdit_)) height_ = *height;
  if (auto diagonal = NumberIn(*diagonalEdit_)) diagonal_ = *diagonal;
  ratio_ = ratioCombo_->currentText();
}

void CameraParametersDialog::UpdateDisplay() {
  width_ = RoundToHundredths(width_);
  height_ = RoundToHundredths(height_);
  widthEdit_->setText(FormatHundredths(width_));
  heightEdit_->setText(FormatHundredths(height_));
  diagonal_ = RoundToHundredths(std::sqrt(width_ * width_ + height_ * height_));
  diagonalEdit_->setText(FormatHundredths(diagonal_));

  // The nearest listed ratio; the first of equally near ones. With no height the quotient is
  // infinite or not a number, and no ratio is near enough.
  const double shape = width_ / height_;
  int nearest = -1;
  double nearestDifference = 1000;
  for (int i = 0; i < ratioCombo_->count(); ++i) {
    const auto ratio = ParseRatio(ratioCombo_->itemText(i).toStdString());
    if (!ratio || ratio->second == 0) continue;
    const double difference = std::abs(static_cast<double>(ratio->first) / ratio->second - shape);
    if (difference < nearestDifference) {
      nearest = i;
      nearestDifference = difference;
    }
  }
  ratioCombo_->setCurrentIndex(nearest);
  // Selecting the item already current leaves a typed text in place; the list's text replaces
  // it, as it does whenever the selection moves.
  ratioCombo_->setEditText(nearest >= 0 ? ratioCombo_->itemText(nearest) : QString());
  ratio_ = ratioCombo_->currentText();

  if (auto name = SelectedCamera()) copy_.Insert(*name, width_ * 0.001, height_ * 0.001, true);
}

void CameraParametersDialog::OnCameraSelected() {
  if (auto name = SelectedCamera()) {
    if (const images::CameraEntry* entry = copy_.Find(*name)) {
      width_ = entry->cellWidth * 1000;
      height_ = entry->cellHeight * 1000;
    }
  }
  UpdateDisplay();
}

void CameraParametersDialog::OnSizeLeft() {
  ReadFields();
  UpdateDisplay();
}

void CameraParametersDialog::OnDiagonalLeft() {
  // Only a diagonal the user typed gives new sides: passing through the field with Tab must not
  // turn sides that are not exactly of a listed ratio into ones that are.
  const bool typed = diagonalEdit_->isModified() && NumberIn(*diagonalEdit_).has_value();
  ReadFields();
  if (typed) ApplyRatio(ratio_);
  UpdateDisplay();
}

void CameraParametersDialog::OnRatioChosen(int index) {
  ReadFields();
  ApplyRatio(ratioCombo_->itemText(index));
  UpdateDisplay();
}

void CameraParametersDialog::ApplyRatio(const QString& ratioText) {
  const auto ratio = ParseRatio(ratioText.toStdString());
  if (!ratio || ratio->second == 0) return;
  const double r = static_cast<double>(ratio->first) / ratio->second;
  // A sensor with a negative or no width is no sensor.
  if (!(r > 0)) return;
  height_ = diagonal_ / std::sqrt(r * r + 1);
  width_ = height_ * r;
}

void CameraParametersDialog::OnGetFromImages() {
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  for (const auto& photo : project_.photos) {
    if (!photo->HasImage()) continue;
    std::string model;
    double focal = 0;
    double cellWidth = 0;
    double cellHeight = 0;
    if (model::ReadExifCamera(*photo, model, focal, cellWidth, cellHeight)) {
      copy_.Insert(model, cellWidth, cellHeight, true);
    }
  }
  QGuiApplication::restoreOverrideCursor();
  OnCameraSelected();
}

std::optional<std::string> CameraParametersDialog::SelectedCamera() const {
  if (camera_->currentIndex() < 0) return std::nullopt;
  return camera_->currentData().toByteArray().toStdString();
}

}  // namespace modrin::views2d
