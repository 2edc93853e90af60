#include <QApplication>
#include <QCommandLineParser>

#include "app/main_frame.h"
#include "app/modrin_application.h"

// The desktop program: one optional project file path on the command line.
int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(modrin::app::kProgramName);
  QApplication::setOrganizationName(modrin::app::kProgramName);
  QApplication::setApplicationVersion("3.0");
  QApplication::setDesktopFileName("modrin");

  QCommandLineParser parser;
  parser.setApplicationDescription("Image-based 3D modelling from photos.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("project", "The project file (.mpj) to open.", "[project]");
  parser.process(application);
  const QStringList arguments = parser.positionalArguments();
  if (arguments.size() > 1) {
    fputs("modrin: at most one project file may be named\n", stderr);
    return 2;
  }

  modrin::app::ModrinApplication modrin;
  modrin.Start(arguments.isEmpty() ? QString() : arguments.front());
  return application.exec();
}
