#pragma once

#include <QString>

class QWidget;

namespace modrin::app {

// The folder of the help pages: "help" beside the program, or the installed share folder.
QString HelpFolder();

// Shows help page `page` ("Modrin.html", "GettingStarted.html#CalibrationStep") in the help
// window; a missing page shows nothing. (Stub: to be completed.)
void ShowHelp(const QString& page);

}  // namespace modrin::app
