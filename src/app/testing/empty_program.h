#pragma once

#include <QSettings>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/main_frame.h"
#include "app/modrin_application.h"
#include "app/testing/scripted_dialogs.h"

namespace modrin::app::testing {

// The program started without a project, as a user starts it, with no settings left from
// before, scripted dialogs and a scratch folder for its files.
struct EmptyProgram {
  std::unique_ptr<QTemporaryDir> dir;
  ScriptedDialogs* dialogs = nullptr;
  std::unique_ptr<ModrinApplication> app;

  void Start(QSize windowSize) {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin").clear();
    dir = std::make_unique<QTemporaryDir>();
    auto scripted = std::make_unique<ScriptedDialogs>();
    dialogs = scripted.get();
    app = std::make_unique<ModrinApplication>(std::move(scripted));
    app->Start(QString());
    app->mainFrame().resize(windowSize);
    [&] { QVERIFY(QTest::qWaitForWindowExposed(&app->mainFrame())); }();
  }
  void Stop() {
    app.reset();
    dir.reset();
  }
};

}  // namespace modrin::app::testing
