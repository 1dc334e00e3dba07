#include "ui/FolderBrowser.h"

#include <QDir>
#include <QFileDialog>

QString FolderBrowser::Browse(QWidget* owner, const QString& title) {
  return QFileDialog::getExistingDirectory(owner, title, QDir::rootPath(), QFileDialog::ShowDirsOnly);
}
