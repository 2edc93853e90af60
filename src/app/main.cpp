#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>

#include "app/main_frame.h"
#include "app/modrin_application.h"

namespace {

void SetNames() {
  QCoreApplication::setApplicationName(modrin::app::kProgramName);
  QCoreApplication::setOrganizationName(modrin::app::kProgramName);
  QCoreApplication::setApplicationVersion("3.0");
}

// The project path of the command line; exits for --help, --version and wrong use. Parsed
// before any window system is touched, so that these work without a display.
QString ParseCommandLine(int argc, char** argv) {
  QCoreApplication core(argc, argv);
  SetNames();
  QCommandLineParser parser;
  parser.setApplicationDescription("Image-based 3D modelling from photos.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("project", "The project file (.mpj) to open.", "[project]");
  parser.process(core);
  const QStringList arguments = parser.positionalArguments();
  if (arguments.size() > 1) {
    std::fputs("modrin: at most one project file may be named\n", stderr);
    std::exit(2);
  }
  return arguments.isEmpty() ? QString() : arguments.front();
}

// Whether a window can be opened: a display, or a platform chosen explicitly.
bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

// The desktop program: one optional project file path on the command line.
int main(int argc, char** argv) {
  const QString projectPath = ParseCommandLine(argc, argv);
  if (!HasDisplay()) {
    std::fputs(
        "modrin: no display to open the window on (DISPLAY is not set); "
        "modrin-cli works without one\n",
        stderr);
    return 1;
  }
  QApplication application(argc, argv);
  SetNames();
  QApplication::setDesktopFileName("modrin");

  modrin::app::ModrinApplication modrin;
  modrin.Start(projectPath);
  return application.exec();
}
