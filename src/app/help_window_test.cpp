#include "app/help_window.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QTextBrowser>

using modrin::app::HelpFolder;
using modrin::app::OpenHelpWindow;
using modrin::app::ShowHelp;

namespace {

// The pages the program opens by name.
const QStringList kPages = {"Modrin.html",        "2Dviews.html",      "GettingStarted.html",
                            "ObjectList.html",    "3Dview.html",       "Calibration.html",
                            "Params2DViews.html", "ParamsCamera.html", "PhotoParameters.html",
                            "ExportToWeb.html"};

QString ReadPage(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

// The values of every href and src attribute of a page.
QStringList Links(const QString& html) {
  static const QRegularExpression link(R"re((?:href|src)\s*=\s*"([^"]*)")re",
                                       QRegularExpression::CaseInsensitiveOption);
  QStringList links;
  for (const QRegularExpressionMatch& match : link.globalMatch(html)) links << match.captured(1);
  return links;
}

// The anchors a page defines with name or id attributes.
QSet<QString> Anchors(const QString& html) {
  static const QRegularExpression anchor(R"re(\b(?:name|id)\s*=\s*"([^"]*)")re",
                                         QRegularExpression::CaseInsensitiveOption);
  QSet<QString> anchors;
  for (const QRegularExpressionMatch& match : anchor.globalMatch(html)) {
    anchors.insert(match.captured(1));
  }
  return anchors;
}

QPushButton* Button(QWidget& window, const QString& text) {
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

}  // namespace

class HelpWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { delete OpenHelpWindow(); }

  void pagesLieInTheHelpFolder() {
    // The build copies the pages beside the program.
    const QDir folder(HelpFolder());
    QCOMPARE(QFileInfo(folder.path()).absoluteFilePath(),
             QDir(QCoreApplication::applicationDirPath()).filePath("help"));
    for (const QString& page : kPages) QVERIFY2(folder.exists(page), qPrintable(page));
  }

  void everyLinkResolves() {
    const QDir folder(HelpFolder());
    const QStringList pages = folder.entryList({"*.html"}, QDir::Files);
    QVERIFY(pages.size() >= kPages.size());
    QMap<QString, QSet<QString>> anchors;
    for (const QString& page : pages) anchors[page] = Anchors(ReadPage(folder.filePath(page)));

    for (const QString& page : pages) {
      const QString html = ReadPage(folder.filePath(page));
      QVERIFY2(!html.contains("<script", Qt::CaseInsensitive), qPrintable(page));
      for (const QString& link : Links(html)) {
        const QString where = page + ": " + link;
        // The pages are read offline: nothing may point outside the folder.
        QVERIFY2(!link.contains(':') && !link.startsWith('/'), qPrintable(where));
        const int hash = link.indexOf('#');
        const QString file = hash < 0 ? link : link.left(hash);
        const QString target = file.isEmpty() ? page : file;
        QVERIFY2(folder.exists(target), qPrintable(where));
        if (hash >= 0 && target.endsWith(".html")) {
          QVERIFY2(anchors[target].contains(link.mid(hash + 1)), qPrintable(where));
        }
      }
    }
  }

  void contentsLinksEveryPage() {
    const QStringList links = Links(ReadPage(QDir(HelpFolder()).filePath("Modrin.html")));
    QSet<QString> linked;
    for (const QString& link : links) linked.insert(link.section('#', 0, 0));
    for (const QString& page : kPages.mid(1)) QVERIFY2(linked.contains(page), qPrintable(page));
  }

  void showHelpScrollsToTheAnchor() {
    ShowHelp("GettingStarted.html#CalibrationStep");
    modrin::app::HelpWindow* window = OpenHelpWindow();
    QVERIFY(window != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->windowTitle(), QString("Modrin Help"));
    QCOMPARE(window->source().fileName(), QString("GettingStarted.html"));
    QCOMPARE(window->source().fragment(), QString("CalibrationStep"));
    // The step lies well down the page.
    QTRY_VERIFY(window->browser()->verticalScrollBar()->value() > 0);
  }

  void oneWindowServesEveryRequest() {
    ShowHelp("ObjectList.html");
    modrin::app::HelpWindow* window = OpenHelpWindow();
    QVERIFY(window != nullptr);
    ShowHelp("3Dview.html");
    QCOMPARE(OpenHelpWindow(), window);
    QCOMPARE(window->source().fileName(), QString("3Dview.html"));

    QPushButton* back = Button(*window, "Back");
    QPushButton* home = Button(*window, "Home");
    QVERIFY(back != nullptr && home != nullptr);
    QVERIFY(back->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    QCOMPARE(window->source().fileName(), QString("ObjectList.html"));
    QTest::mouseClick(home, Qt::LeftButton);
    QCOMPARE(window->source().fileName(), QString("Modrin.html"));
  }

  void aMissingPageShowsNothing() {
    ShowHelp("NoSuchPage.html");
    QVERIFY(OpenHelpWindow() == nullptr);
    ShowHelp("#CalibrationStep");
    QVERIFY(OpenHelpWindow() == nullptr);

    // An open window keeps its page.
    ShowHelp("Calibration.html");
    QVERIFY(OpenHelpWindow() != nullptr);
    ShowHelp("NoSuchPage.html#Top");
    QCOMPARE(OpenHelpWindow()->source().fileName(), QString("Calibration.html"));
  }
};

QTEST_MAIN(HelpWindowTest)
#include "help_window_test.moc"
