#include "ui/CMainFrame.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMoveEvent>
#include <QResizeEvent>

#include "ui/CAboutDlg.h"
#include "ui/CDriftharbourView.h"

CMainFrame::CMainFrame(std::string settingsPath, QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Driftharbour"));

  view = new CDriftharbourView(std::move(settingsPath), this);
  setCentralWidget(view);

  QMenu* server = menuBar()->addMenu(QStringLiteral("Server"));
  addServerAction = server->addAction(QStringLiteral("Add Server"));
  addServerAction->setShortcut(QKeySequence(Qt::Key_F3));
  server->addSeparator();
  saveServerListAction = server->addAction(QStringLiteral("Save Server List"));
  saveServerListAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  server->addSeparator();
  QAction* exit = server->addAction(QStringLiteral("Exit"));
  aboutAction = menuBar()->addAction(QStringLiteral("About"));
  // The shortcuts work wherever the focus is in this window.
  for (QAction* action : {addServerAction, saveServerListAction}) {
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
  }

  connect(addServerAction, &QAction::triggered, view, &CDriftharbourView::OnAddServer);
  connect(saveServerListAction, &QAction::triggered, view, &CDriftharbourView::OnSaveServerList);
  connect(exit, &QAction::triggered, this, &QWidget::close);
  connect(aboutAction, &QAction::triggered, this, &CMainFrame::OnAppAbout);

  // Fit the frame to the form, then let the view fill its list and anchor
  // its controls against this size.
  view->resize(view->FormSize());
  resize(sizeHint().expandedTo(QSize(view->FormSize().width(),
                                     view->FormSize().height() + menuBar()->sizeHint().height())));
  view->OnInitialUpdate(this);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::OnAppAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  // The main window's layout has resized the view before this handler runs.
  QMainWindow::resizeEvent(event);
  view->Relayout();
}

void CMainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  view->Relayout();
}
