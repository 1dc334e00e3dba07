#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QLineEdit;

// Asks for one server URL. It opens with the clipboard's plain text in the
// URL field, taken whole, and the focus on "Add Server", so Enter adds a
// copied address at once.
//
// "Add Server" takes the text by ServerUrl's rule: blanks around it go, a
// URL without a scheme becomes http://. Anything that is not an http or
// https URL is refused with a message, and a URL the list already has
// (isListed) is added again only when the user says so; in both cases the
// dialog stays open for another try.
//
// A local playlist file (its path or file:// URL, typed, pasted or
// dropped into the field) adds the streams it names: Urls() then holds them.
//
// Url() is empty until the dialog ends with "Add Server"; "Abbrechen",
// Escape or the close box leave it empty.
//
// User-interface thread only; child widgets are owned through Qt's parent
// chain.
class CAddServerDlg : public QDialog {
  Q_OBJECT

 public:
  using ListedCheck = std::function<bool(const QString& url)>;

  // isListed may be empty: then no URL counts as listed.
  explicit CAddServerDlg(QWidget* parent = nullptr, ListedCheck isListed = {});
  ~CAddServerDlg() override;

  // The accepted URL, or empty (the first of Urls()).
  QString Url() const { return url; }
  // Every URL to add: the one typed, or a local playlist's streams.
  QStringList Urls() const { return urls; }
  // The URL field, for tests.
  QLineEdit* UrlField() const { return urlField; }

  void accept() override;

  // Asks (over parent) whether url, which the list has already, should be
  // added a second time; true for Yes.
  static bool ConfirmSecondCopy(QWidget* parent, const QString& url);

 private:
  QString url;
  QStringList urls;
  ListedCheck isListed;
  QLineEdit* urlField = nullptr;  // owned by this dialog
};
