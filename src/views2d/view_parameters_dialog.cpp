#include "views2d/view_parameters_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace modrin::views2d {

namespace {

std::optional<QFont> AskFont(const QFont& start, QWidget* parent) {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, start, parent);
  if (!ok) return std::nullopt;
  return chosen;
}

// The number a size item shows; -1 for none.
int ItemNumber(const QComboBox& combo, int index) {
  bool ok = false;
  const int value = combo.itemText(index).toInt(&ok);
  return ok ? value : -1;
}

}  // namespace

ViewParametersDialog::ViewParametersDialog(const ViewSettings& settings, HelpHandler help,
                                           QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      original_(settings),
      help_(std::move(help)),
      fontChooser_(AskFont) {
  setWindowTitle(tr("2D view parameters"));

  auto* colours = new QGroupBox(tr("Colors"), this);
  auto* colourGrid = new QGridLayout(colours);
  auto addColour = [&](int id, const char* text, const QColor& colour, int row, int column) {
    auto* button = new ColourButton(tr(text), colours);
    button->setObjectName(QString::number(id));
    button->SetColour(colour);
    connect(button, &ColourButton::colourChanged, this, &ViewParametersDialog::Apply);
    colourGrid->addWidget(button, row, column);
    return button;
  };
  current_ = addColour(kCurrentButton, "Current", settings.currentColour, 0, 0);
  default_ = addColour(kDefaultButton, "Default", settings.defaultColour, 0, 1);
  calibration_ = addColour(kCalibrationButton, "Calibration", settings.calibrationColour, 1, 0);
  incomplete_ = addColour(kIncompleteButton, "Incomplete", settings.incompleteColour, 1, 1);

  auto* sizes = new QGroupBox(tr("Size"), this);
  auto* sizeForm = new QFormLayout(sizes);
  pointSize_ = AddSizeCombo(kPointSizeCombo, settings.pointSize);
  pointWidth_ = AddSizeCombo(kPointWidthCombo, settings.pointWidth);
  edgeWidth_ = AddSizeCombo(kEdgeWidthCombo, settings.edgeWidth);
  sizeForm->addRow(tr("Point size"), pointSize_);
  sizeForm->addRow(tr("Point width"), pointWidth_);
  sizeForm->addRow(tr("Edge width"), edgeWidth_);

  auto* text = new QGroupBox(tr("Text"), this);
  auto* textRow = new QHBoxLayout(text);
  vertexId_ = new QCheckBox(tr("Vertex Id"), text);
  vertexId_->setObjectName(QString::number(kVertexIdCheck));
  vertexId_->setChecked(settings.showIds);
  connect(vertexId_, &QCheckBox::toggled, this, [this] {
    Apply();
    emit redrawAllRequested();
  });
  auto* font = new QPushButton(tr("Font"), text);
  font->setObjectName(QString::number(kFontButton));
  connect(font, &QPushButton::clicked, this, &ViewParametersDialog::ChooseFont);
  // The font dialog offers no text colour; the labels' colour has a button of its own.
  label_ = new ColourButton(tr("Label colour"), text);
  label_->setObjectName(QString::number(kLabelColourButton));
  label_->SetColour(settings.labelColour);
  connect(label_, &ColourButton::colourChanged, this, &ViewParametersDialog::Apply);
  textRow->addWidget(vertexId_);
  textRow->addWidget(font);
  textRow->addWidget(label_);

  auto* accuracy = new QGroupBox(tr("Accuracy"), this);
  auto* accuracyRow = new QHBoxLayout(accuracy);
  reprojections_ = new QCheckBox(tr("Reprojection crosses (over 2 pixels)"), accuracy);
  reprojections_->setObjectName("reprojections");
  reprojections_->setToolTip(
      tr("A cross where a point's 3D position falls in a calibrated photo, when it is more than "
         "2 pixels from the point's mark"));
  reprojections_->setChecked(settings.showReprojections);
  connect(reprojections_, &QCheckBox::toggled, this, &ViewParametersDialog::Apply);
  accuracyRow->addWidget(reprojections_);

  auto* applyToAll = new QPushButton(tr("Apply To All"), this);
  applyToAll->setObjectName(QString::number(kApplyToAllButton));
  applyToAll->setAutoDefault(false);
  connect(applyToAll, &QPushButton::clicked, this, [this] {
    emit applyToAllRequested(settings_);
    emit redrawAllRequested();
  });
  auto* ok = new QPushButton(tr("OK"), this);
  ok->setObjectName("OK");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  cancel->setObjectName("Cancel");
  cancel->setAutoDefault(false);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(applyToAll);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(colours);
  layout->addWidget(sizes);
  layout->addWidget(text);
  layout->addWidget(accuracy);
  layout->addLayout(buttons);

  auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(helpKey, &QShortcut::activated, this, [this] {
    if (help_) help_(kHelpTopic);
  });
}

QComboBox* ViewParametersDialog::AddSizeCombo(int id, int value) {
  auto* combo = new QComboBox(this);
  combo->setObjectName(QString::number(id));
  for (int n = 1; n <= 6; ++n) combo->addItem(QString::number(n));
  // The first item showing the value; none when no item does.
  int selected = -1;
  for (int i = 0; i < combo->count() && selected < 0; ++i) {
    if (ItemNumber(*combo, i) == value) selected = i;
  }
  combo->setCurrentIndex(selected);
  connect(combo, &QComboBox::activated, this, &ViewParametersDialog::Apply);
  return combo;
}

void ViewParametersDialog::SetColourChooser(const ColourButton::ColourChooser& chooser) {
  for (ColourButton* button : {current_, default_, calibration_, incomplete_, label_}) {
    button->SetChooser(chooser);
  }
}

void ViewParametersDialog::ChooseFont() {
  if (const std::optional<QFont> chosen = fontChooser_(settings_.labelFont, this)) {
    settings_.labelFont = *chosen;
    Apply();
  }
}

void ViewParametersDialog::Apply() {
  settings_.currentColour = current_->colour();
  settings_.defaultColour = default_->colour();
  settings_.calibrationColour = calibration_->colour();
  settings_.incompleteColour = incomplete_->colour();
  settings_.labelColour = label_->colour();
  settings_.showIds = vertexId_->isChecked();
  settings_.showReprojections = reprojections_->isChecked();
  // A size without a selected item stays as it is.
  auto take = [](const QComboBox& combo, int& size) {
    const int value = ItemNumber(combo, combo.currentIndex());
    if (combo.currentIndex() >= 0 && value > 0) size = value;
  };
  take(*pointSize_, settings_.pointSize);
  take(*pointWidth_, settings_.pointWidth);
  take(*edgeWidth_, settings_.edgeWidth);
  emit settingsChanged(settings_);
}

void ViewParametersDialog::reject() {
  // Cancel, Escape and the close box give the view back what it had.
  settings_ = original_;
  emit settingsChanged(original_);
  emit redrawAllRequested();
  QDialog::reject();
}

}  // namespace modrin::views2d
