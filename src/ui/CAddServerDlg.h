#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

// Asks for one server URL. It opens with the clipboard's plain text in the
// URL field, taken whole, and the focus on "Add Server", so Enter adds a
// copied address at once. The text is neither checked nor changed.
//
// Url() is empty until the dialog ends with "Add Server"; "Abbrechen",
// Escape or the close box leave it empty.
//
// User-interface thread only; child widgets are owned through Qt's parent
// chain.
class CAddServerDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAddServerDlg(QWidget* parent = nullptr);
  ~CAddServerDlg() override;

  // The accepted URL text, or empty.
  QString Url() const { return url; }
  // The URL field, for tests.
  QLineEdit* UrlField() const { return urlField; }

  void accept() override;

 private:
  QString url;
  QLineEdit* urlField = nullptr;  // owned by this dialog
};
