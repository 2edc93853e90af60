#include "app/user_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>
#include <string>

#include "images/image_codec.h"

namespace modrin::app {

QString ImageFileDialogFilter() {
  // The core's filter is "description\0patterns\0..." with ';' between patterns; Qt wants
  // "description (patterns)" entries joined by ";;" with blanks between patterns.
  const std::string filter = images::ImageFileFilter(true);
  QStringList entries;
  std::size_t at = 0;
  while (at < filter.size()) {
    const std::size_t descriptionEnd = filter.find('\0', at);
    const std::size_t patternsEnd = filter.find('\0', descriptionEnd + 1);
    if (descriptionEnd == std::string::npos || patternsEnd == std::string::npos) break;
    const QString description = QString::fromStdString(filter.substr(at, descriptionEnd - at));
    QString patterns =
        QString::fromStdString(filter.substr(descriptionEnd + 1, patternsEnd - descriptionEnd - 1));
    patterns.replace(';', ' ');
    entries << description + " (" + patterns + ")";
    at = patternsEnd + 1;
  }
  return entries.join(";;");
}

QString UserDialogs::AskProjectFileName(QWidget* parent, bool save) {
  QFileDialog dialog(parent, save ? "Save Modrin project file" : "Open Modrin project file");
  dialog.setNameFilter("Modrin files (*.mpj)");
  dialog.setDefaultSuffix("mpj");
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QStringList UserDialogs::AskImageFiles(QWidget* parent) {
  QFileDialog dialog(parent, " Open images");
  dialog.setNameFilter(ImageFileDialogFilter());
  dialog.setFileMode(QFileDialog::ExistingFiles);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

std::unique_ptr<QFileDialog> MakeModelFileDialog(QWidget* parent, const QString& folder) {
  auto dialog = std::make_unique<QFileDialog>(parent, "Save 3d-model file", folder);
  const QStringList filters{"Microsoft DirectX files (*.x)", "VRML files (*.wrl)",
                            "Alias Wafefront OBJ files (*.obj)", "glTF 2.0 files (*.gltf)",
                            "glTF binary files (*.glb)"};
  const QStringList suffixes{"x", "wrl", "obj", "gltf", "glb"};
  dialog->setNameFilters(filters);
  dialog->selectNameFilter(filters.front());
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setOption(QFileDialog::ReadOnly, false);
  dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
  // A name typed without an extension gets the one of the chosen file type.
  dialog->setDefaultSuffix(suffixes.front());
  QFileDialog* shown = dialog.get();
  QObject::connect(shown, &QFileDialog::filterSelected, shown,
                   [shown, filters, suffixes](const QString& filter) {
                     const qsizetype index = filters.indexOf(filter);
                     if (index >= 0) shown->setDefaultSuffix(suffixes[index]);
                   });
  // The name field starts as the pattern of the first type.
  dialog->selectFile("*.x");
  return dialog;
}

QString UserDialogs::AskModelFileName(QWidget* parent, const QString& folder) {
  const std::unique_ptr<QFileDialog> dialog = MakeModelFileDialog(parent, folder);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
  return ModelFileChoice(dialog->selectedFiles().constFirst());
}

std::unique_ptr<QFileDialog> MakeHtmlFileDialog(QWidget* parent, const QString& startName) {
  auto dialog = std::make_unique<QFileDialog>(parent, "HTML file");
  dialog->setNameFilter("HTML file (*.html)");
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setOption(QFileDialog::ReadOnly, false);
  dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
  dialog->setDefaultSuffix("html");
  dialog->selectFile(startName);
  return dialog;
}

UserDialogs::FileNameAnswer UserDialogs::AskHtmlFileName(QWidget* parent,
                                                         const QString& startName) {
  const std::unique_ptr<QFileDialog> dialog = MakeHtmlFileDialog(parent, startName);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
    return {startName, false};
  }
  return {dialog->selectedFiles().constFirst(), true};
}

QString ModelFileChoice(const QString& fieldText) {
  // The name field starts as the pattern; confirming the pattern chooses no file.
  if (fieldText.isEmpty() || QFileInfo(fieldText).fileName() == "*.x") return {};
  return fieldText;
}

namespace {

// A question with Yes (the default), No and Cancel; closing the box is Cancel.
UserDialogs::Answer AskYesNoCancel(QWidget* parent, const QString& question) {
  const auto button = QMessageBox::question(
      parent, kProgramName, question, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
      QMessageBox::Yes);
  if (button == QMessageBox::Yes) return UserDialogs::Answer::Yes;
  if (button == QMessageBox::No) return UserDialogs::Answer::No;
  return UserDialogs::Answer::Cancel;
}

}  // namespace

UserDialogs::Answer UserDialogs::AskSaveChanges(QWidget* parent) {
  return AskYesNoCancel(parent, kSaveChangesQuestion);
}

UserDialogs::Answer UserDialogs::AskRecoverChanges(QWidget* parent, const QString& question) {
  return AskYesNoCancel(parent, question);
}

void UserDialogs::ShowWarning(QWidget* parent, const QString& text) {
  QMessageBox::warning(parent, kProgramName, text);
}

void UserDialogs::ShowError(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, kProgramName, text);
}

void UserDialogs::ShowAbout(QWidget* parent) {
  QMessageBox box(parent);
  box.setWindowTitle(kProgramName);
  box.setIconPixmap(parent != nullptr ? parent->windowIcon().pixmap(32, 32) : QPixmap());
  box.setText(kAboutText);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

}  // namespace modrin::app
