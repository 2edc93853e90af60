#include "app/help_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <memory>

namespace modrin::app {

namespace {

constexpr char kContentsPage[] = "Modrin.html";

// The one help window of the program. A function-local static rather than a global so that
// it is made on first use; the QPointer clears itself when the window is closed and deleted.
QPointer<HelpWindow>& HelpWindowInstance() {
  static QPointer<HelpWindow> window;
  return window;
}

}  // namespace

QString HelpFolder() {
  const QDir programFolder(QCoreApplication::applicationDirPath());
  const QString beside = programFolder.filePath(QStringLiteral("help"));
  if (QFileInfo(beside).isDir()) return beside;
  return QDir::cleanPath(programFolder.filePath(QStringLiteral("../share/modrin/help")));
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent), browser_(new QTextBrowser(this)) {
  setWindowTitle(tr("Modrin Help"));
  browser_->setOpenLinks(true);
  browser_->setOpenExternalLinks(false);
  browser_->setSearchPaths({HelpFolder()});

  auto* back = new QPushButton(tr("Back"), this);
  auto* forward = new QPushButton(tr("Forward"), this);
  auto* home = new QPushButton(tr("Home"), this);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
  connect(home, &QPushButton::clicked, this, [this] { ShowPage(kContentsPage); });
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QWidget::setEnabled);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(back);
  buttons->addWidget(forward);
  buttons->addWidget(home);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(browser_);
  // Wide enough for the pages' pictures of the window (760 pixels), where the screen allows.
  QSize size(900, 720);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    size = size.boundedTo(screen->availableSize() * 0.9);
  }
  resize(size);
}

bool HelpWindow::ShowPage(const QString& page) {
  const int hash = page.indexOf(u'#');
  const QString file = hash < 0 ? page : page.left(hash);
  const QString path = QDir(HelpFolder()).filePath(file);
  if (file.isEmpty() || !QFileInfo(path).isFile()) return false;
  QUrl url = QUrl::fromLocalFile(path);
  if (hash >= 0) url.setFragment(page.mid(hash + 1));
  browser_->setSource(url);
  return true;
}

QUrl HelpWindow::source() const { return browser_->source(); }

void ShowHelp(const QString& page) {
  QPointer<HelpWindow>& window = HelpWindowInstance();
  if (window == nullptr) {
    auto help = std::make_unique<HelpWindow>();
    if (!help->ShowPage(page)) return;
    help->setAttribute(Qt::WA_DeleteOnClose);
    // An open help window must not keep the program running after the main window closes,
    // and it goes with the application when the event loop ends.
    help->setAttribute(Qt::WA_QuitOnClose, false);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, help.get(), &QObject::deleteLater);
    window = help.release();
  } else if (!window->ShowPage(page)) {
    return;
  }
  window->show();
  window->raise();
  window->activateWindow();
}

HelpWindow* OpenHelpWindow() { return HelpWindowInstance(); }

}  // namespace modrin::app
