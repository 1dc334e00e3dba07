#include "ui/FolderBrowser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QString FolderBrowser::Browse(QWidget* owner, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
}

QString FolderBrowser::StartingPoint(const QString& directory) {
  if (directory.trimmed().isEmpty()) {
    // An empty directory records into the working directory.
    return QDir::currentPath();
  }
  QString candidate = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
  // A directory that is gone, or not made yet: the nearest one above it.
  while (!QFileInfo(candidate).isDir()) {
    const QString parent = QFileInfo(candidate).absolutePath();
    if (parent == candidate) {
      return QDir::homePath();
    }
    candidate = parent;
  }
  return candidate;
}
