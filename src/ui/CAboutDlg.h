#pragma once

#include <QDialog>

// The About box: banner, "Version 1.0", the maker's notice and a "Done"
// button. Modal; it ends with "Done", Escape or the close box.
//
// User-interface thread only; owns its child widgets through Qt's parent
// chain.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  ~CAboutDlg() override;
};
