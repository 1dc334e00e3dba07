#pragma once

#include <QString>

class QWidget;

// Lets the user choose a directory with the system's folder chooser, modal
// to its owner, opened at the directory the entry records into now (or the
// nearest one above it that exists) with nothing preselected.
//
// The view takes one through a factory so that tests can answer for the
// user; Browse is virtual for that reason. User-interface thread only.
class FolderBrowser {
 public:
  virtual ~FolderBrowser() = default;

  // The chosen path exactly as the chooser reports it, or empty when the
  // user cancelled. start: the directory the chooser opens at.
  virtual QString Browse(QWidget* owner, const QString& title, const QString& start);

  // Where the chooser opens for an entry recording into directory: the
  // directory itself, else its nearest existing parent (a relative one
  // counts from the working directory), else the home directory.
  static QString StartingPoint(const QString& directory);
};
