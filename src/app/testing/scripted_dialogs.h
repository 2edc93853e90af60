#pragma once

#include <QString>
#include <QStringList>
#include <QTest>

#include "app/user_dialogs.h"

namespace modrin::app::testing {

// Answers the dialogs from a script and records what was asked.
class ScriptedDialogs : public UserDialogs {
 public:
  QString AskProjectFileName(QWidget*, bool save) override {
    (save ? saveDialogs : openDialogs)++;
    return save ? saveName : openName;
  }
  QStringList AskImageFiles(QWidget*) override {
    ++imageDialogs;
    return images;
  }
  QString AskModelFileName(QWidget*, const QString& folder) override {
    ++modelDialogs;
    modelFolder = folder;
    return modelName;
  }
  // Answers htmlAnswer; an empty text stands for the start name, as a cancelled dialog gives.
  FileNameAnswer AskHtmlFileName(QWidget*, const QString& startName) override {
    htmlStarts << startName;
    FileNameAnswer answer = htmlAnswer;
    if (answer.text.isEmpty()) answer.text = startName;
    return answer;
  }
  Answer AskSaveChanges(QWidget*) override {
    ++questions;
    return answer;
  }
  Answer AskRecoverChanges(QWidget*, const QString& question) override {
    recoverQuestions << question;
    // A user takes a while to answer; the program's timers run meanwhile.
    if (recoverDelayMs > 0) QTest::qWait(recoverDelayMs);
    return recoverAnswer;
  }
  void ShowWarning(QWidget*, const QString& text) override { warnings << text; }
  void ShowError(QWidget*, const QString& text) override { errors << text; }
  void ShowAbout(QWidget*) override { ++aboutBoxes; }

  QString openName, saveName, modelName, modelFolder;
  QStringList images;
  FileNameAnswer htmlAnswer;
  QStringList htmlStarts;  // the start name of every HTML file question
  Answer answer = Answer::Cancel;
  Answer recoverAnswer = Answer::Cancel;
  QStringList recoverQuestions;
  int recoverDelayMs = 0;
  int modelDialogs = 0;
  int openDialogs = 0, saveDialogs = 0, imageDialogs = 0, questions = 0, aboutBoxes = 0;
  QStringList warnings, errors;
};

}  // namespace modrin::app::testing
