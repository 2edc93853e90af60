#pragma once

#include <QDialog>
#include <QString>
#include <optional>

#include "export/web_export.h"
#include "views2d/colour_button.h"
#include "views2d/help_handler.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSlider;

namespace modrin::app {

class UserDialogs;

// A whole number in `text` (blanks around it allowed, an optional sign, decimal digits only,
// read the same under every locale) within `bottom` to `top`; null for anything else.
std::optional<int> WholeNumberIn(const QString& text, int bottom, int top);

// The file name a browse for the web page starts with: the text after the last '/' or '\' of
// `held`, or the pattern "*.html" when that is empty.
QString HtmlBrowseStartName(const QString& held);

// The modal "Output to HTML" dialog: gathers the settings of a web page of the model. It is
// laid out in dialog units of its font, as its controls' rectangles were designed. Each
// control's objectName names its value ("fileName", "url", "horizontalMin", ...).
class WebExportDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr char kHelpTopic[] = "ExportToWeb.html";
  static constexpr char kHtmlPattern[] = "*.html";
  static constexpr int kWidthUnits = 202;
  static constexpr int kHeightUnits = 295;

  // Shows `initial`. `dialogs` asks for the HTML file name and shows the problems of OK; it
  // outlives the dialog. `help` answers F1.
  WebExportDialog(const exporters::WebExportSettings& initial, UserDialogs& dialogs,
                  views2d::HelpHandler help, QWidget* parent = nullptr);

  // The values OK read back; the initial ones until then.
  const exporters::WebExportSettings& settings() const { return settings_; }
  // Replaces the colour chooser of the background button (the platform's colour dialog).
  void SetColourChooser(views2d::ColourButton::ColourChooser chooser);

  // OK: reads the values back and closes. A number field that does not hold a whole number of
  // its kind, and then a value no page can be made of (no .html file, a texture size that is not
  // a whole number from 1 up, an angle range whose minimum lies above its maximum), is named in a
  // warning, gets the focus and keeps the dialog open.
  void accept() override;

 private:
  // The control that holds `setting`.
  QWidget* FieldOf(exporters::WebSetting setting) const;
  void WebOrLocalClicked();
  void Browse();

  exporters::WebExportSettings settings_;
  UserDialogs& dialogs_;
  views2d::HelpHandler help_;
  // The file name the next browse starts from: the Filename text at the last click of the
  // web-or-local box, or the text the last browse ended with, whichever came last.
  QString heldFileName_;

  QLineEdit* fileName_ = nullptr;
  QCheckBox* webOrLocal_ = nullptr;
  QLineEdit* url_ = nullptr;
  QLineEdit* horizontalMin_ = nullptr;
  QLineEdit* horizontalMax_ = nullptr;
  QLineEdit* verticalMin_ = nullptr;
  QLineEdit* verticalMax_ = nullptr;
  QRadioButton* activeX_ = nullptr;
  QRadioButton* java_ = nullptr;
  views2d::ColourButton* background_ = nullptr;
  QLineEdit* windowWidth_ = nullptr;
  QLineEdit* windowHeight_ = nullptr;
  QComboBox* maxTexturePixels_ = nullptr;
  QSlider* quality_ = nullptr;
};

}  // namespace modrin::app
