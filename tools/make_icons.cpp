// Writes the program icon as PNG files for the desktop's icon theme:
// OUT/<size>x<size>/apps/modrin.png for each size a theme looks for. The icon is the one the
// program draws for its own window, so both always agree.

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

#include "app/icons.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: modrin-make-icons OUT_FOLDER\n", stderr);
    return 2;
  }
  // Rendering needs no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  const QIcon icon = modrin::app::ProgramIcon();
  const QString out = QString::fromLocal8Bit(argv[1]);
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
    if (!QDir().mkpath(folder) ||
        !icon.pixmap(QSize(size, size)).save(folder + "/modrin.png", "PNG")) {
      std::fprintf(stderr, "modrin-make-icons: cannot write %s\n", qPrintable(folder));
      return 1;
    }
  }
  return 0;
}
