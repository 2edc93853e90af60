#pragma once

#include <QWidget>
#include <optional>
#include <string>

class QLineEdit;
class QTableWidget;

namespace modrin::model {
class Project;
}

namespace modrin::app {

// The number a cell's text starts with, read as C's "%d" and "%lf" read it in the C locale
// (leading blanks skipped, the rest of the text ignored); empty when it starts with none.
// Infinities and NaN are refused: no pose can hold them.
std::optional<int> ParseCellInt(const std::string& text);
std::optional<double> ParseCellDouble(const std::string& text);

// The "Advanced" tab of the calibration dialog: one row per photo with its name (shown whole,
// the path as its tooltip), whether it is calibrated ("Valid") and its pose (translation; yaw,
// pitch and roll in degrees). A click on a cell of columns 1 to 7 edits it in an edit box laid
// over the cell; the arrow keys move the edit to the neighbouring cell.
class CalibrationListPage : public QWidget {
  Q_OBJECT

 public:
  // The last column, not editable: the reprojection RMS in pixels of every position marked in
  // the photo that has a 3D point, as the poses stand; empty for a photo not calibrated.
  enum Column {
    kPhoto,
    kValid,
    kTranslationX,
    kTranslationY,
    kTranslationZ,
    kYaw,
    kPitch,
    kRoll,
    kRms
  };
  static constexpr int kColumnCount = 9;

  // The project outlives the page.
  explicit CalibrationListPage(model::Project& project, QWidget* parent = nullptr);

  // Rewrites columns 1 to 7 of every row from the cameras.
  void Refresh();
  // Writes the cells the user changed into the cameras: "Valid" 1 marks the photo calibrated,
  // anything else not; the numbers are the pose. A cell left as the page wrote it keeps the
  // camera's exact value, so looking at the table never rounds a pose to its three decimals.
  void Apply();

  // Ends any edit, then edits the cell (row, column); columns 1 to 7 of existing rows only.
  void StartEdit(int row, int column);
  // Writes the edit box's text into the edited cell: for "Valid" 1 when it reads as the
  // number 1, else 0; for the others the number with three decimals, or, when the text holds
  // no number, the cell's text as it was. Text left as it was changes nothing. Hides the
  // edit box.
  void EndEdit();

  QTableWidget* list() const { return list_; }
  QLineEdit* editBox() const { return edit_; }
  // The cell being edited; row -1 when none.
  int editRow() const { return editRow_; }
  int editColumn() const { return editColumn_; }

 protected:
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Writes columns 1 to 7 of `row`, numbers in `width` columns (0: no padding).
  void WriteRow(int row, int width);
  void WriteRms();
  void SetCell(int row, int column, const QString& text, bool fromCamera);
  // Moves the edit by (dRow, dColumn) within columns 1 to 7 and the existing rows.
  void MoveEdit(int dRow, int dColumn);
  // Scrolls the list so that the cell lies inside its client area.
  void ScrollToCell(int row, int column);

  model::Project& project_;
  QTableWidget* list_;
  QLineEdit* edit_;
  int editRow_ = -1;
  int editColumn_ = 0;
  QString editStartText_;  // the cell's text when its edit started
};

}  // namespace modrin::app
