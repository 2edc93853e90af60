#include "app/web_export_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSlider>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "app/dialog_units.h"
#include "app/user_dialogs.h"
#include "export/web_export.h"
#include "model/project_document.h"

namespace modrin::app {

namespace {

constexpr int kIntMin = std::numeric_limits<int>::min();
constexpr int kIntMax = std::numeric_limits<int>::max();

QColor ToQColor(const exporters::RgbColour& colour) { return QColor(colour.r, colour.g, colour.b); }

exporters::RgbColour ToRgb(const QColor& colour) {
  const QColor rgb = colour.toRgb();
  return {static_cast<std::uint8_t>(rgb.red()), static_cast<std::uint8_t>(rgb.green()),
          static_cast<std::uint8_t>(rgb.blue())};
}

constexpr const char* kMaxPixelsCaption = "Maximum number of pixels \n in X or Y";

// A static text placed at its rectangle; it grows to its text where the rectangle is too small
// for the dialog's font, so no caption is cut.
QLabel* AddLabel(QWidget* dialog, const char* text, QRect rect) {
  auto* label = new QLabel(QString::fromUtf8(text), dialog);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  const QSize hint = label->sizeHint();
  rect.setWidth(std::max(rect.width(), hint.width()));
  rect.setHeight(std::max(rect.height(), hint.height()));
  label->setGeometry(rect);
  return label;
}

QLineEdit* AddEdit(QWidget* dialog, const char* name, const QString& text, const QRect& rect) {
  auto* edit = new QLineEdit(text, dialog);
  edit->setObjectName(name);
  edit->setGeometry(rect);
  return edit;
}

void AddGroup(QWidget* dialog, const char* title, const QRect& rect) {
  auto* group = new QGroupBox(title, dialog);
  group->setGeometry(rect);
}

}  // namespace

std::optional<int> WholeNumberIn(const QString& text, int bottom, int top) {
  std::string digits = text.trimmed().toStdString();
  // from_chars takes a minus sign but no plus sign; a plus sign must be followed by a digit.
  if (!digits.empty() && digits.front() == '+') {
    digits.erase(0, 1);
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') return std::nullopt;
  }
  int value = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  if (value < bottom || value > top) return std::nullopt;
  return value;
}

QString HtmlBrowseStartName(const QString& held) {
  const QString name = QString::fromStdString(model::FileNamePart(held.toStdString()));
  // A held value that names only a folder offers the pattern too, not an empty field.
  return name.isEmpty() ? QString(WebExportDialog::kHtmlPattern) : name;
}

WebExportDialog::WebExportDialog(const exporters::WebExportSettings& initial, UserDialogs& dialogs,
                                 views2d::HelpHandler help, QWidget* parent)
    : QDialog(parent), settings_(initial), dialogs_(dialogs), help_(std::move(help)) {
  setWindowTitle("Output to HTML");
  // Modal to the main window only: the help window it opens on F1 stays usable.
  setWindowModality(Qt::WindowModal);
  // The captions were laid out for a narrower font than most desktops use; the longest ones set
  // the unit where they would not fit.
  const DialogUnits u = DialogUnits::ForFontFitting(font(), {{kMaxPixelsCaption, 90},
                                                             {"Background", 45},
                                                             {"Low quality\nSmaller size", 40},
                                                             {"High quality\nBigger size", 40},
                                                             {"Horizontal", 40},
                                                             {"Filename", 35}});
  setFixedSize(u.Size(kWidthUnits, kHeightUnits));

  // The controls are made in their tab order; a group box is made before the controls it
  // frames, so that they are drawn over it.
  AddLabel(this, "Filename", u.Rect(5, 10, 35, 10));
  fileName_ =
      AddEdit(this, "fileName", QString::fromStdString(initial.fileName), u.Rect(40, 5, 125, 15));
  auto* browse = new QPushButton("...", this);
  browse->setObjectName("browse");
  browse->setAutoDefault(false);
  browse->setGeometry(u.Rect(175, 5, 15, 15));
  connect(browse, &QPushButton::clicked, this, &WebExportDialog::Browse);

  webOrLocal_ = new QCheckBox(this);
  webOrLocal_->setObjectName("webOrLocal");
  webOrLocal_->setAccessibleName("Use the URL");
  webOrLocal_->setChecked(initial.webOrLocal);
  QRect boxRect = u.Rect(7, 25, 8, 15);
  boxRect.setWidth(std::max(boxRect.width(), webOrLocal_->sizeHint().width()));
  webOrLocal_->setGeometry(boxRect);
  connect(webOrLocal_, &QCheckBox::clicked, this, &WebExportDialog::WebOrLocalClicked);
  AddLabel(this, "URL", u.Rect(23, 25, 17, 15));
  url_ = AddEdit(this, "url", QString::fromStdString(initial.siteAddress), u.Rect(40, 25, 125, 15));
  url_->setEnabled(initial.webOrLocal);

  AddGroup(this, "Angle range", u.Rect(5, 45, 190, 55));
  AddLabel(this, "Min", u.Rect(75, 50, 12, 8));
  AddLabel(this, "Max", u.Rect(121, 50, 14, 8));
  AddLabel(this, "Horizontal", u.Rect(15, 65, 40, 10));
  horizontalMin_ = AddEdit(this, "horizontalMin", QString::number(initial.horizontalMin_deg),
                           u.Rect(65, 61, 40, 14));
  horizontalMax_ = AddEdit(this, "horizontalMax", QString::number(initial.horizontalMax_deg),
                           u.Rect(111, 61, 40, 14));
  AddLabel(this, "degrees", u.Rect(155, 60, 26, 13));
  AddLabel(this, "Vertical", u.Rect(15, 80, 40, 10));
  verticalMin_ = AddEdit(this, "verticalMin", QString::number(initial.verticalMin_deg),
                         u.Rect(65, 80, 40, 14));
  verticalMax_ = AddEdit(this, "verticalMax", QString::number(initial.verticalMax_deg),
                         u.Rect(111, 80, 40, 14));
  AddLabel(this, "degrees", u.Rect(155, 80, 26, 13));

  AddGroup(this, "Plugin Type", u.Rect(5, 105, 90, 40));
  activeX_ = new QRadioButton("ActiveX", this);
  activeX_->setObjectName("activeX");
  activeX_->setGeometry(u.Rect(25, 114, 41, 10));
  java_ = new QRadioButton("JAVA", this);
  java_->setObjectName("java");
  java_->setGeometry(u.Rect(25, 130, 33, 10));
  // Only the ActiveX viewer is offered for now.
  java_->setEnabled(false);
  auto* plugins = new QButtonGroup(this);
  plugins->addButton(activeX_);
  plugins->addButton(java_);
  (initial.pluginType == exporters::PluginType::kJava ? java_ : activeX_)->setChecked(true);

  AddGroup(this, "Color", u.Rect(100, 105, 95, 40));
  AddLabel(this, "Background", u.Rect(110, 120, 45, 15));
  background_ = new views2d::ColourButton(QString(), this);
  background_->setObjectName("background");
  background_->setAccessibleName("Background");
  background_->setAutoDefault(false);
  background_->SetColour(ToQColor(initial.background));
  // The 18 x 18 swatch with the button's frame around it.
  QRect colourRect = u.Rect(170, 120, 15, 14);
  colourRect.setWidth(std::max(colourRect.width(), 24));
  colourRect.setHeight(std::max(colourRect.height(), 24));
  background_->setGeometry(colourRect);

  AddGroup(this, "Window size", u.Rect(5, 150, 125, 50));
  AddLabel(this, "Horizontal", u.Rect(10, 160, 40, 14));
  windowWidth_ = AddEdit(this, "windowWidth", QString::number(initial.windowWidth_px),
                         u.Rect(60, 160, 40, 14));
  AddLabel(this, "pixels", u.Rect(105, 160, 18, 13));
  AddLabel(this, "Vertical", u.Rect(10, 175, 40, 13));
  windowHeight_ = AddEdit(this, "windowHeight", QString::number(initial.windowHeight_px),
                          u.Rect(60, 178, 40, 14));
  AddLabel(this, "pixels", u.Rect(105, 180, 18, 12));

  AddGroup(this, "Texture compression", u.Rect(5, 205, 190, 60));
  AddLabel(this, kMaxPixelsCaption, u.Rect(10, 220, 90, 15));
  maxTexturePixels_ = new QComboBox(this);
  maxTexturePixels_->setObjectName("maxTexturePixels");
  maxTexturePixels_->setEditable(true);
  maxTexturePixels_->setInsertPolicy(QComboBox::NoInsert);
  maxTexturePixels_->addItems({"64", "128", "256", "512", "1024", "2048"});
  maxTexturePixels_->setCurrentText(QString::fromStdString(initial.maxTexturePixels));
  // The rectangle's height is that of the dropped-down list; the box keeps its own height.
  QRect comboRect = u.Rect(100, 220, 55, 75);
  comboRect.setHeight(maxTexturePixels_->sizeHint().height());
  maxTexturePixels_->setGeometry(comboRect);
  AddLabel(this, "pixels", u.Rect(160, 220, 18, 13));
  AddLabel(this, "Low quality\nSmaller size", u.Rect(10, 241, 40, 20));
  quality_ = new QSlider(Qt::Horizontal, this);
  quality_->setObjectName("quality");
  quality_->setRange(0, 100);
  quality_->setTickPosition(QSlider::NoTicks);
  quality_->setValue(std::clamp(initial.textureQuality, 0, 100));
  quality_->setGeometry(u.Rect(50, 241, 100, 15));
  AddLabel(this, "High quality\nBigger size", u.Rect(150, 241, 40, 20));

  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("Cancel");
  cancel->setGeometry(u.Rect(80, 275, 50, 14));
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OK");
  ok->setDefault(true);
  ok->setGeometry(u.Rect(145, 275, 50, 14));
  connect(ok, &QPushButton::clicked, this, &WebExportDialog::accept);

  auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(helpKey, &QShortcut::activated, this, [this] {
    if (help_) help_(kHelpTopic);
  });
  fileName_->setFocus();
}

void WebExportDialog::SetColourChooser(views2d::ColourButton::ColourChooser chooser) {
  background_->SetChooser(std::move(chooser));
}

void WebExportDialog::WebOrLocalClicked() {
  // The file name read back here is the one the next browse starts from.
  heldFileName_ = fileName_->text();
  url_->setEnabled(webOrLocal_->isChecked());
}

void WebExportDialog::Browse() {
  const UserDialogs::FileNameAnswer answer =
      dialogs_.AskHtmlFileName(this, HtmlBrowseStartName(heldFileName_));
  if (answer.confirmed) fileName_->setText(answer.text);
  heldFileName_ = answer.text;
}

void WebExportDialog::accept() {
  exporters::WebExportSettings read = settings_;
  read.fileName = fileName_->text().toStdString();
  read.siteAddress = url_->text().toStdString();
  read.webOrLocal = webOrLocal_->isChecked();

  // The number fields in their tab order: the first one that holds no number is the one the
  // user is sent back to.
  struct NumberField {
    QLineEdit* edit;
    int* value;
    int bottom;
    const char* problem;
  };
  const NumberField fields[] = {
      {horizontalMin_, &read.horizontalMin_deg, kIntMin,
       "The horizontal angle minimum must be a whole number of degrees."},
      {horizontalMax_, &read.horizontalMax_deg, kIntMin,
       "The horizontal angle maximum must be a whole number of degrees."},
      {verticalMin_, &read.verticalMin_deg, kIntMin,
       "The vertical angle minimum must be a whole number of degrees."},
      {verticalMax_, &read.verticalMax_deg, kIntMin,
       "The vertical angle maximum must be a whole number of degrees."},
      {windowWidth_, &read.windowWidth_px, 0,
       "The window width must be a whole number of pixels, 0 or more."},
      {windowHeight_, &read.windowHeight_px, 0,
       "The window height must be a whole number of pixels, 0 or more."},
  };
  for (const NumberField& field : fields) {
    const std::optional<int> value = WholeNumberIn(field.edit->text(), field.bottom, kIntMax);
    if (!value) {
      dialogs_.ShowWarning(this, field.problem);
      field.edit->setFocus(Qt::OtherFocusReason);
      field.edit->selectAll();
      return;
    }
    *field.value = *value;
  }

  read.pluginType =
      java_->isChecked() ? exporters::PluginType::kJava : exporters::PluginType::kActiveX;
  read.background = ToRgb(background_->colour());
  read.maxTexturePixels = maxTexturePixels_->currentText().toStdString();
  read.textureQuality = quality_->value();
  // Then what no page can be made of: no HTML file, a texture size that is no size, a range
  // whose minimum lies above its maximum.
  const exporters::WebSettingsProblem problem = exporters::CheckWebExportSettings(read);
  if (problem.setting != exporters::WebSetting::kNone) {
    dialogs_.ShowWarning(this, QString::fromStdString(problem.message));
    QWidget* field = FieldOf(problem.setting);
    field->setFocus(Qt::OtherFocusReason);
    if (field == maxTexturePixels_) maxTexturePixels_->lineEdit()->selectAll();
    if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->selectAll();
    return;
  }
  settings_ = std::move(read);
  QDialog::accept();
}

QWidget* WebExportDialog::FieldOf(exporters::WebSetting setting) const {
  switch (setting) {
    case exporters::WebSetting::kFileName:
      return fileName_;
    case exporters::WebSetting::kMaxTexturePixels:
      return maxTexturePixels_;
    case exporters::WebSetting::kTextureQuality:
      return quality_;
    case exporters::WebSetting::kHorizontalRange:
      return horizontalMin_;
    case exporters::WebSetting::kVerticalRange:
      return verticalMin_;
    case exporters::WebSetting::kWindowSize:
    case exporters::WebSetting::kNone:
      break;
  }
  return windowWidth_;
}

}  // namespace modrin::app
