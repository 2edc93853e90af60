#include "app/calibration_list_page.h"

#include <QHeaderView>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "engine/residuals.h"
#include "images/number_text.h"
#include "model/project.h"
#include "model/project_document.h"

namespace modrin::app {

namespace {

struct ColumnLook {
  const char* title;
  int width;  // pixels
};

constexpr ColumnLook kColumns[CalibrationListPage::kColumnCount] = {
    {"Photo", 100},         {"Valid", 50},          {"Translation X", 100},
    {"Translation Y", 100}, {"Translation Z", 100}, {"Yaw", 80},
    {"Pitch", 80},          {"Roll", 80},           {"RMS (pixels)", 90}};

constexpr int kFirstEditable = CalibrationListPage::kValid;
constexpr int kLastEditable = CalibrationListPage::kRoll;

// Marks a cell whose text the user gave it; only those reach the cameras.
constexpr int kEditedRole = Qt::UserRole;

double DegreesFromRadians(double radians) { return radians * 90 / std::acos(0.0); }
double RadiansFromDegrees(double degrees) { return degrees * std::acos(0.0) / 90; }

// C's "%.3f", padded on the left with blanks to `width` characters.
QString FixedText(double value, int width) {
  std::string text;
  images::AppendFixed(text, value, 3);
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return QString::fromStdString(text);
}

// Where a number of a cell starts: after the blanks, and after a '+' that a digit or a point
// follows (from_chars takes a '-' itself but no '+').
const char* NumberStart(const std::string& text) {
  const char* at = text.data();
  const char* end = at + text.size();
  while (at != end && (*at == ' ' || (*at >= '\t' && *at <= '\r'))) ++at;
  if (at != end && *at == '+' && at + 1 != end && *(at + 1) != '-' && *(at + 1) != '+') ++at;
  return at;
}

}  // namespace

std::optional<int> ParseCellInt(const std::string& text) {
  const char* start = NumberStart(text);
  int value = 0;
  const auto result = std::from_chars(start, text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr == start) return std::nullopt;
  return value;
}

std::optional<double> ParseCellDouble(const std::string& text) {
  const char* start = NumberStart(text);
  double value = 0;
  const auto result = std::from_chars(start, text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr == start || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

CalibrationListPage::CalibrationListPage(model::Project& project, QWidget* parent)
    : QWidget(parent),
      project_(project),
      list_(new QTableWidget(static_cast<int>(project.photos.size()), kColumnCount, this)),
      edit_(new QLineEdit(list_->viewport())) {
  list_->setShowGrid(true);
  list_->verticalHeader()->hide();
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  for (int column = 0; column < kColumnCount; ++column) {
    auto* header = new QTableWidgetItem(kColumns[column].title);
    header->setTextAlignment(Qt::AlignCenter);
    list_->setHorizontalHeaderItem(column, header);
    list_->setColumnWidth(column, kColumns[column].width);
  }
  for (int row = 0; row < list_->rowCount(); ++row) {
    for (int column = 0; column < kColumnCount; ++column) {
      auto* item = new QTableWidgetItem;
      item->setTextAlignment(Qt::AlignCenter);
      item->setFlags(Qt::ItemIsEnabled);
      list_->setItem(row, column, item);
    }
    // The name without its folder; the whole path shows as the cell's tooltip.
    const std::string& path = project_.photos[static_cast<std::size_t>(row)]->path;
    QTableWidgetItem* name = list_->item(row, kPhoto);
    name->setText(QString::fromStdString(model::FileNamePart(path)));
    name->setToolTip(QString::fromStdString(path));
    WriteRow(row, 0);
  }
  WriteRms();
  // Names are shown whole: for long ones the column grows past its usual width.
  list_->resizeColumnToContents(kPhoto);
  list_->setColumnWidth(kPhoto, std::max(list_->columnWidth(kPhoto), kColumns[kPhoto].width));
  edit_->setFrame(false);
  edit_->hide();
  list_->viewport()->installEventFilter(this);
  list_->installEventFilter(this);
  edit_->installEventFilter(this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  setFocusProxy(list_);
}

void CalibrationListPage::Refresh() {
  for (int row = 0; row < list_->rowCount(); ++row) WriteRow(row, 8);
  WriteRms();
}

void CalibrationListPage::WriteRms() {
  for (int row = 0; row < list_->rowCount(); ++row) SetCell(row, kRms, "", false);
  for (const engine::PhotoResiduals& photo : engine::BuildResidualReport(project_).photos) {
    const int row = static_cast<int>(photo.photo);
    if (row < list_->rowCount() && photo.all.count > 0) {
      SetCell(row, kRms, FixedText(photo.all.rms, 0), false);
    }
  }
}

void CalibrationListPage::WriteRow(int row, int width) {
  if (static_cast<std::size_t>(row) >= project_.photos.size()) return;
  const engine::CameraRecord& camera = project_.photos[static_cast<std::size_t>(row)]->camera;
  SetCell(row, kValid, camera.calibrated ? "1" : "0", false);
  SetCell(row, kTranslationX, FixedText(camera.translation.x, width), false);
  SetCell(row, kTranslationY, FixedText(camera.translation.y, width), false);
  SetCell(row, kTranslationZ, FixedText(camera.translation.z, width), false);
  // The orientation holds pitch, roll and yaw.
  SetCell(row, kYaw, FixedText(DegreesFromRadians(camera.orientation.z), width), false);
  SetCell(row, kPitch, FixedText(DegreesFromRadians(camera.orientation.x), width), false);
  SetCell(row, kRoll, FixedText(DegreesFromRadians(camera.orientation.y), width), false);
}

void CalibrationListPage::SetCell(int row, int column, const QString& text, bool edited) {
  QTableWidgetItem* item = list_->item(row, column);
  item->setText(text);
  item->setData(kEditedRole, edited);
}

void CalibrationListPage::Apply() {
  for (int row = 0; row < list_->rowCount(); ++row) {
    if (static_cast<std::size_t>(row) >= project_.photos.size()) break;
    engine::CameraRecord& camera = project_.photos[static_cast<std::size_t>(row)]->camera;
    for (int column = kFirstEditable; column <= kLastEditable; ++column) {
      const QTableWidgetItem* item = list_->item(row, column);
      if (!item->data(kEditedRole).toBool()) continue;
      const std::string text = item->text().toStdString();
      if (column == kValid) {
        camera.calibrated = ParseCellInt(text) == 1;
        continue;
      }
      const std::optional<double> value = ParseCellDouble(text);
      if (!value) continue;
      switch (column) {
        case kTranslationX:
          camera.translation.x = *value;
          break;
        case kTranslationY:
          camera.translation.y = *value;
          break;
        case kTranslationZ:
          camera.translation.z = *value;
          break;
        case kYaw:
          camera.orientation.z = RadiansFromDegrees(*value);
          break;
        case kPitch:
          camera.orientation.x = RadiansFromDegrees(*value);
          break;
        case kRoll:
          camera.orientation.y = RadiansFromDegrees(*value);
          break;
        default:
          break;
      }
    }
  }
}

void CalibrationListPage::StartEdit(int row, int column) {
  EndEdit();
  if (row < 0 || row >= list_->rowCount() || column < kFirstEditable || column > kLastEditable) {
    return;
  }
  editRow_ = row;
  editColumn_ = column;
  ScrollToCell(row, column);
  QTableWidgetItem* item = list_->item(row, column);
  const QRect cell = list_->visualItemRect(item);
  // From 3 pixels right of and 2 below the cell's top-left corner to its bottom-right corner.
  const QRect box = QRect(cell.left() + 3, cell.top() + 2, cell.width() - 3, cell.height() - 2)
                        .intersected(list_->viewport()->rect());
  edit_->setGeometry(box);
  editStartText_ = item->text();
  edit_->setText(editStartText_);
  edit_->setCursorPosition(static_cast<int>(edit_->text().size()));
  edit_->show();
  edit_->setFocus(Qt::OtherFocusReason);
}

void CalibrationListPage::EndEdit() {
  if (editRow_ < 0) return;
  const int row = editRow_;
  const int column = editColumn_;
  editRow_ = -1;
  const std::string text = edit_->text().toStdString();
  const bool hadFocus = edit_->hasFocus();
  edit_->hide();
  if (hadFocus) list_->setFocus(Qt::OtherFocusReason);
  // An edit that changed nothing leaves the camera's exact value.
  if (edit_->text() == editStartText_) return;
  if (column == kValid) {
    SetCell(row, column, ParseCellInt(text) == 1 ? "1" : "0", true);
    return;
  }
  // Text that holds no number leaves the cell as it was.
  if (const std::optional<double> value = ParseCellDouble(text)) {
    SetCell(row, column, FixedText(*value, 0), true);
  }
}

void CalibrationListPage::MoveEdit(int dRow, int dColumn) {
  const int row = std::clamp(editRow_ + dRow, 0, list_->rowCount() - 1);
  const int column = std::clamp(editColumn_ + dColumn, kFirstEditable, kLastEditable);
  StartEdit(row, column);
}

void CalibrationListPage::ScrollToCell(int row, int column) {
  const QRect cell = list_->visualItemRect(list_->item(row, column));
  // The client area shrunk by 1 pixel at the left and top and 2 at the right and bottom;
  // right and bottom edges exclusive.
  const QRect client = list_->viewport()->rect();
  const int left = 1, top = 1, right = client.width() - 2, bottom = client.height() - 2;
  int dx = 0, dy = 0;
  if (cell.x() + cell.width() > right) dx = cell.x() + cell.width() - right;
  if (cell.x() - dx < left) dx = cell.x() - left;
  if (cell.y() + cell.height() > bottom) dy = cell.y() + cell.height() - bottom;
  if (cell.y() - dy < top) dy = cell.y() - top;
  if (dx != 0) list_->horizontalScrollBar()->setValue(list_->horizontalScrollBar()->value() + dx);
  if (dy != 0) list_->verticalScrollBar()->setValue(list_->verticalScrollBar()->value() + dy);
}

void CalibrationListPage::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // A minimised window hides the page too; only the page's own hiding takes its edits.
  if (event->spontaneous()) return;
  EndEdit();
  Apply();
}

bool CalibrationListPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::MouseButtonPress) {
    const QModelIndex index =
        list_->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    if (index.isValid() && index.column() >= kFirstEditable && index.column() <= kLastEditable) {
      StartEdit(index.row(), index.column());
    } else {
      EndEdit();
    }
    return true;
  }
  if ((watched == list_ || watched == edit_) && event->type() == QEvent::KeyPress &&
      editRow_ >= 0) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      // Enter takes the typed value instead of pressing the dialog's OK.
      case Qt::Key_Return:
      case Qt::Key_Enter:
        EndEdit();
        return true;
      case Qt::Key_Left:
        MoveEdit(0, -1);
        return true;
      case Qt::Key_Right:
        MoveEdit(0, 1);
        return true;
      case Qt::Key_Up:
        MoveEdit(-1, 0);
        return true;
      case Qt::Key_Down:
        MoveEdit(1, 0);
        return true;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace modrin::app
