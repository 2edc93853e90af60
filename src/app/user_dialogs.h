#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QFileDialog;
class QWidget;

namespace modrin::app {

// The modal questions and messages of the main window. The program uses the Qt dialogs; tests
// give scripted answers instead, so that no dialog waits for a user.
class UserDialogs {
 public:
  enum class Answer { Yes, No, Cancel };
  // What a file dialog ended with: the text of its name field, and whether the user confirmed
  // it.
  struct FileNameAnswer {
    QString text;
    bool confirmed = false;
  };

  virtual ~UserDialogs() = default;

  // The project file dialog in its Open (save == false) or Save form; empty when cancelled.
  virtual QString AskProjectFileName(QWidget* parent, bool save);
  // The Load Images dialog: the chosen files in the order the dialog returns them.
  virtual QStringList AskImageFiles(QWidget* parent);
  // "Save 3d-model file", opened in `folder`: a model file name whose extension chooses the
  // format; empty when cancelled.
  virtual QString AskModelFileName(QWidget* parent, const QString& folder);
  // "HTML file", a web page's file name, the name field starting as `startName` (a name
  // without folder, or the pattern "*.html"). Confirmed: the full path chosen. Cancelled: the
  // field's text is given back as it started.
  virtual FileNameAnswer AskHtmlFileName(QWidget* parent, const QString& startName);
  // "Save de Project?" with Yes, No and Cancel.
  virtual Answer AskSaveChanges(QWidget* parent);
  // Whether to open a recovery copy (RecoveryQuestion's text) with Yes, No and Cancel.
  virtual Answer AskRecoverChanges(QWidget* parent, const QString& question);
  // A warning with an exclamation icon and an OK button.
  virtual void ShowWarning(QWidget* parent, const QString& text);
  // A failed file operation: what failed and why.
  virtual void ShowError(QWidget* parent, const QString& text);
  // The About box.
  virtual void ShowAbout(QWidget* parent);
};

// The file dialog AskModelFileName shows, set up but not shown yet.
std::unique_ptr<QFileDialog> MakeModelFileDialog(QWidget* parent, const QString& folder);
// The file dialog AskHtmlFileName shows, set up but not shown yet.
std::unique_ptr<QFileDialog> MakeHtmlFileDialog(QWidget* parent, const QString& startName);

// The model file a Save 3D dialog's final name chooses: none for an empty name or the "*.x"
// pattern the field starts with.
QString ModelFileChoice(const QString& fieldText);

// The Qt file-dialog filter list of the Load Images dialog, its first entry selected.
QString ImageFileDialogFilter();

inline constexpr char kProgramName[] = "Modrin";
inline constexpr char kSaveChangesQuestion[] = "Save de Project?";
inline constexpr char kAboutText[] = "Modrin  Version 3.0";

}  // namespace modrin::app
