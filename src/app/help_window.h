#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

class QTextBrowser;

namespace modrin::app {

// The folder of the help pages: "help" beside the program when it exists (a build tree), else
// "../share/modrin/help" from the program's folder (an installed program).
QString HelpFolder();

// A top-level browser of the help pages with Back, Forward and Home (the contents page).
// Links between pages are followed inside it.
class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows `page`, a file name in the help folder with an optional "#anchor", scrolled to the
  // anchor. Returns false and changes nothing when the file does not exist.
  bool ShowPage(const QString& page);
  // The page shown, with its anchor as the fragment.
  QUrl source() const;
  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_ = nullptr;
};

// Shows help page `page` ("Modrin.html", "GettingStarted.html#CalibrationStep") in the help
// window, opening it when none is open and raising it otherwise; one help window serves the
// whole program. A missing page shows nothing and opens no window.
void ShowHelp(const QString& page);

// The help window ShowHelp opened, or nullptr while none is open.
HelpWindow* OpenHelpWindow();

}  // namespace modrin::app
