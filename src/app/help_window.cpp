#include "app/help_window.h"

#include <QCoreApplication>

namespace modrin::app {

QString HelpFolder() { return QCoreApplication::applicationDirPath() + "/help"; }

void ShowHelp(const QString& page) { (void)page; }

}  // namespace modrin::app
