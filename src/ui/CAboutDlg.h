#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About box: banner, "Version 1.0", the maker's notice and a "Done"
// button. Modal; it ends with "Done", Escape or the close box.
//
// Laid out in dialog units of its font, and then widened and heightened
// where a button's text needs more room than its units give (small fonts,
// where the style's own margins weigh more, and large ones), so that every
// text fits at every font size and scale factor. A change of its font lays
// it out again.
//
// User-interface thread only; owns its child widgets through Qt's parent
// chain.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  ~CAboutDlg() override;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void LayOut();

  QLabel* picture = nullptr;
  QLabel* version = nullptr;
  QPushButton* notice = nullptr;
  QPushButton* contact = nullptr;
  QPushButton* done = nullptr;
};
