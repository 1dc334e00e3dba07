#include "ui/CAddServerDlg.h"

#include <QClipboard>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

#include "ui/DialogUnits.h"
#include "ui/ServerUrl.h"

CAddServerDlg::CAddServerDlg(QWidget* parent, ListedCheck listed) : QDialog(parent), isListed(std::move(listed)) {
  setWindowTitle(QStringLiteral("Add Server"));
  const QFont font(QStringLiteral("Arial"), 8);
  setFont(font);
  const DialogUnits units(font);
  setFixedSize(units.Size(247, 69));

  // Created in tab order.
  auto* add = new QPushButton(QStringLiteral("Add Server"), this);
  add->setObjectName(QStringLiteral("addServer"));
  add->setGeometry(units.Rect(5, 45, 100, 14));
  add->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Abbrechen"), this);
  cancel->setObjectName(QStringLiteral("cancel"));
  cancel->setGeometry(units.Rect(140, 45, 100, 14));
  cancel->setAutoDefault(false);
  auto* prompt =
      new QLabel(QStringLiteral("Enter the SHOUTcast Server URL (like http://127.0.0.1:80/stream/1003):"), this);
  prompt->setGeometry(units.Rect(5, 5, 230, 10));
  auto* label = new QLabel(QStringLiteral("URL:"), this);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setGeometry(units.Rect(5, 20, 20, 14));
  urlField = new QLineEdit(this);
  urlField->setGeometry(units.Rect(30, 20, 210, 14));
  setTabOrder(add, cancel);
  setTabOrder(cancel, urlField);

  connect(add, &QPushButton::clicked, this, &CAddServerDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  // Plain text only; a clipboard holding none leaves the field empty.
  if (const QClipboard* clipboard = QGuiApplication::clipboard()) {
    urlField->setText(clipboard->text(QClipboard::Clipboard));
  }
  add->setFocus();
}

CAddServerDlg::~CAddServerDlg() = default;

void CAddServerDlg::accept() {
  QString problem;
  bool local = false;
  const QStringList listed = ServerUrl::FromLocalPlaylist(urlField->text(), local, &problem);
  if (local) {
    if (listed.isEmpty()) {
      QMessageBox refusal(QMessageBox::Warning, QStringLiteral("Add Server"), problem, QMessageBox::Ok, this);
      refusal.exec();
      urlField->setFocus();
      return;
    }
    urls = listed;
    url = listed.front();
    QDialog::accept();
    return;
  }
  const QString normalized = ServerUrl::Normalize(urlField->text(), &problem);
  if (normalized.isNull()) {
    QMessageBox refusal(QMessageBox::Warning, QStringLiteral("Add Server"), problem, QMessageBox::Ok, this);
    refusal.exec();
    urlField->setFocus();
    return;
  }
  if (isListed && isListed(normalized) && !ConfirmSecondCopy(this, normalized)) {
    urlField->setFocus();
    return;
  }
  urlField->setText(normalized);
  url = normalized;
  urls = QStringList{normalized};
  QDialog::accept();
}

bool CAddServerDlg::ConfirmSecondCopy(QWidget* parent, const QString& url) {
  QMessageBox question(QMessageBox::Question, QStringLiteral("Add Server"),
                       QStringLiteral("%1 is already in the server list. Add it a second time?").arg(url),
                       QMessageBox::Yes | QMessageBox::No, parent);
  question.setDefaultButton(QMessageBox::No);
  return question.exec() == QMessageBox::Yes;
}
