#pragma once

#include <QDialog>
#include <QFont>
#include <functional>
#include <optional>

#include "views2d/colour_button.h"
#include "views2d/help_handler.h"
#include "views2d/view_settings.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace modrin::views2d {

// "2D view parameters": the colours, sizes and label font of one photo view. Every change is
// shown at once: the dialog reports the whole settings after each one, and the frame applies
// them to its view. Cancel reports the settings the view had when the dialog opened.
class ViewParametersDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kCurrentButton = 1046;
  static constexpr int kDefaultButton = 1047;
  static constexpr int kCalibrationButton = 1048;
  static constexpr int kIncompleteButton = 1049;
  static constexpr int kApplyToAllButton = 1106;
  static constexpr int kVertexIdCheck = 1107;
  static constexpr int kFontButton = 1111;
  static constexpr int kLabelColourButton = 1116;
  static constexpr int kPointSizeCombo = 1112;
  static constexpr int kPointWidthCombo = 1113;
  static constexpr int kEdgeWidthCombo = 1115;
  static constexpr char kHelpTopic[] = "Params2DViews.html";

  // Asks for a font starting from the given one; empty when cancelled. The platform's font
  // dialog offers no text colour, so choosing a font keeps the label colour as it is; the
  // "Label colour" button sets it.
  using FontChooser = std::function<std::optional<QFont>(const QFont&, QWidget* parent)>;

  ViewParametersDialog(const ViewSettings& settings, HelpHandler help, QWidget* parent = nullptr);

  // The settings as the dialog holds them now.
  const ViewSettings& settings() const { return settings_; }
  // Replaces the colour and font choosers (the platform's dialogs).
  void SetColourChooser(const ColourButton::ColourChooser& chooser);
  void SetFontChooser(FontChooser chooser) { fontChooser_ = std::move(chooser); }

  void reject() override;

 signals:
  // After every change: the settings to show in the edited view.
  void settingsChanged(const ViewSettings& settings);
  // "Apply To All": these settings for every photo view.
  void applyToAllRequested(const ViewSettings& settings);
  // Every photo view should be painted again.
  void redrawAllRequested();

 private:
  QComboBox* AddSizeCombo(int id, int value);
  // Takes the controls' state into the settings and reports them.
  void Apply();
  void ChooseFont();

  ViewSettings settings_;
  const ViewSettings original_;
  HelpHandler help_;
  FontChooser fontChooser_;
  ColourButton* current_ = nullptr;
  ColourButton* default_ = nullptr;
  ColourButton* calibration_ = nullptr;
  ColourButton* incomplete_ = nullptr;
  ColourButton* label_ = nullptr;
  QComboBox* pointSize_ = nullptr;
  QComboBox* pointWidth_ = nullptr;
  QComboBox* edgeWidth_ = nullptr;
  QCheckBox* vertexId_ = nullptr;
  QCheckBox* reprojections_ = nullptr;
};

}  // namespace modrin::views2d
