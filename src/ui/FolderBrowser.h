#pragma once

#include <QString>

class QWidget;

// Lets the user choose a directory with the system's folder chooser, modal
// to its owner, starting at the top of the file system with nothing
// preselected.
//
// The view takes one through a factory so that tests can answer for the
// user; Browse is virtual for that reason. User-interface thread only.
class FolderBrowser {
 public:
  virtual ~FolderBrowser() = default;

  // The chosen path exactly as the chooser reports it, or empty when the
  // user cancelled.
  virtual QString Browse(QWidget* owner, const QString& title);
};
