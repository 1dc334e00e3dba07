#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Runs a program of this build (or the installed tree) the way the tests
// that start the real window need it: in an environment without any display
// unless one is given, to its end (at most a minute), with what it printed.
// Test thread only.

struct ProgramOutcome {
  int status = -1;  // -1: crashed or did not end in time
  QString out;
  QString err;
};

// This process's environment without DISPLAY, WAYLAND_DISPLAY and
// QT_QPA_PLATFORM, then display and platform set where not empty.
inline QProcessEnvironment EnvironmentWithDisplay(const QString& display = {}, const QString& platform = {}) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    environment.remove(QString::fromLatin1(name));
  }
  if (!display.isEmpty()) {
    environment.insert(QStringLiteral("DISPLAY"), display);
  }
  if (!platform.isEmpty()) {
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
  }
  return environment;
}

inline ProgramOutcome RunProgram(const QString& program, const QStringList& arguments,
                                 const QProcessEnvironment& environment = EnvironmentWithDisplay(),
                                 const QString& workingDirectory = {}) {
  QProcess process;
  process.setProcessEnvironment(environment);
  if (!workingDirectory.isEmpty()) {
    process.setWorkingDirectory(workingDirectory);
  }
  process.start(program, arguments);
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    return {};
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}
