#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

namespace modrin::app::testing {

// The bytes of the file at `path`; empty when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file at `path` by `bytes`; the test fails when it cannot be written.
inline void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

}  // namespace modrin::app::testing
