#include "ui/CMainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QStatusBar>
#include <QToolBar>

#include "ui/AppIcon.h"
#include "ui/CAboutDlg.h"
#include "ui/CDriftharbourView.h"
#include "ui/EntryCommands.h"
#include "ui/FindStationDialog.h"
#include "ui/ScheduleController.h"
#include "ui/ScheduleText.h"
#include "ui/TrayIcon.h"
#include "ui/WindowState.h"

CMainFrame::CMainFrame(std::string settingsPath, QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Driftharbour"));
  setWindowIcon(AppIcon::Load());

  view = new CDriftharbourView(std::move(settingsPath), this);
  setCentralWidget(view);
  schedules = new ScheduleController(view->Store(), this);

  QMenu* server = menuBar()->addMenu(QStringLiteral("&Server"));
  addServerAction = server->addAction(QStringLiteral("&Add Server"));
  addServerAction->setShortcut(QKeySequence(Qt::Key_F3));
  findStationAction = server->addAction(QApplication::style()->standardIcon(QStyle::SP_FileDialogContentsView),
                                        QStringLiteral("&Find Station\u2026"));
  findStationAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  findStationAction->setToolTip(QStringLiteral("Find a station by name in the community radio directory"));
  server->addAction(view->Commands()->ScheduleAction());
  server->addSeparator();
  saveServerListAction = server->addAction(QStringLiteral("&Save Server List"));
  saveServerListAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  server->addSeparator();
  hideToTrayAction = server->addAction(QStringLiteral("&Hide in Tray When Closed"));
  hideToTrayAction->setCheckable(true);
  hideToTrayAction->setToolTip(QStringLiteral("Closing the window while entries record keeps them recording"));
  server->addSeparator();
  exitAction = server->addAction(QStringLiteral("E&xit"));
  aboutAction = menuBar()->addAction(QStringLiteral("&About"));
  // The shortcuts work wherever the focus is in this window.
  for (QAction* action :
       {addServerAction, findStationAction, saveServerListAction, view->Commands()->ScheduleAction()}) {
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
  }

  toolBar = addToolBar(QStringLiteral("Entries"));
  toolBar->setObjectName(QStringLiteral("entries"));
  toolBar->setMovable(false);
  toolBar->setFloatable(false);
  toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolBar->setIconSize(QSize(16, 16));
  toolBar->addAction(findStationAction);
  toolBar->addSeparator();
  toolBar->addActions(view->Commands()->Actions());

  countsLabel = new QLabel(statusBar());
  statusBar()->addWidget(countsLabel, 1);

  if (TrayIcon::Available()) {
    tray = new TrayIcon(windowIcon(), this);
    connect(tray, &TrayIcon::showRequested, this, &CMainFrame::ShowFromTray);
    connect(tray, &TrayIcon::quitRequested, this, [this] {
      ShowFromTray();
      OnExit();
    });
    tray->Show();
  } else {
    hideToTrayAction->setEnabled(false);
  }

  connect(addServerAction, &QAction::triggered, view, &CDriftharbourView::OnAddServer);
  connect(findStationAction, &QAction::triggered, this, &CMainFrame::OnFindStation);
  connect(saveServerListAction, &QAction::triggered, view, &CDriftharbourView::OnSaveServerList);
  connect(exitAction, &QAction::triggered, this, &CMainFrame::OnExit);
  connect(aboutAction, &QAction::triggered, this, &CMainFrame::OnAppAbout);
  connect(view, &CDriftharbourView::entriesChanged, this, &CMainFrame::UpdateCounts);
  connect(schedules, &ScheduleController::changed, view, &CDriftharbourView::UpdateDetailPanel);
  connect(schedules, &ScheduleController::lineReady, this,
          [this](const QString& line) { statusBar()->showMessage(line, 15000); });
  // Saving the list rewrites the file without this window's section.
  connect(view, &CDriftharbourView::serverListSaved, this, [this] { SaveWindowState(); });

  // Fit the frame to the form, then let the view fill its list and anchor
  // its controls against this size.
  view->resize(view->FormSize());
  resize(sizeHint().expandedTo(QSize(view->FormSize().width(),
                                     view->FormSize().height() + menuBar()->sizeHint().height())));
  view->OnInitialUpdate(this);
  RestoreWindowState();
  UpdateCounts();
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::OnFindStation() {
  if (findStation == nullptr) {
    StationDirectory::Settings settings;
    settings.directoryUrl = view->Store().DirectoryUrl();
    settings.cacheDirectory = DirectoryCache::DefaultDirectory();
    findStation = new FindStationDialog(
        std::move(settings),
        [this](const DirectoryStation& station) { return FindStationDialog::AddToView(*view, station); }, this);
  }
  findStation->exec();
}

void CMainFrame::OnAppAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CMainFrame::OnExit() {
  exitChosen = true;
  close();
  exitChosen = false;
}

void CMainFrame::ShowFromTray() {
  showNormal();
  raise();
  activateWindow();
}

QString CMainFrame::QuitQuestion(int recording, int retrying) {
  if (recording <= 0 && retrying <= 0) {
    return {};
  }
  const int running = recording + retrying;
  const QString tail = running == 1 ? QStringLiteral(" Stop it and quit?") : QStringLiteral(" Stop them and quit?");
  if (retrying <= 0) {
    return (recording == 1 ? QStringLiteral("1 entry is recording.")
                           : QStringLiteral("%1 entries are recording.").arg(recording)) +
           tail;
  }
  const QString retryingText =
      retrying == 1 ? QStringLiteral("1 is retrying.") : QStringLiteral("%1 are retrying.").arg(retrying);
  if (recording <= 0) {
    return (retrying == 1 ? QStringLiteral("1 entry is retrying.")
                          : QStringLiteral("%1 entries are retrying.").arg(retrying)) +
           tail;
  }
  return (recording == 1 ? QStringLiteral("1 entry is recording and ")
                         : QStringLiteral("%1 entries are recording and ").arg(recording)) +
         retryingText + tail;
}

bool CMainFrame::ConfirmQuit() {
  const CDriftharbourView::EntryCounts counts = view->CountEntries();
  const QString text = QuitQuestion(counts.recording, counts.retrying);
  if (!text.isEmpty()) {
    QMessageBox question(QMessageBox::Question, QStringLiteral("Driftharbour"), text,
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() != QMessageBox::Yes) {
      return false;
    }
  }
  if (view->ServerListChanged()) {
    QMessageBox question(QMessageBox::Question, QStringLiteral("Driftharbour"),
                         QStringLiteral("The server list has changed since it was last saved. Save it?"),
                         QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    question.setDefaultButton(QMessageBox::Save);
    const int answer = question.exec();
    if (answer == QMessageBox::Cancel) {
      return false;
    }
    if (answer == QMessageBox::Save && !view->SaveServerListQuietly()) {
      QMessageBox failure(QMessageBox::Warning, QStringLiteral("Driftharbour"),
                          QStringLiteral("Serverlist couldn\u00b4t be saved!"), QMessageBox::Ok, this);
      failure.exec();
      return false;
    }
  }
  return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!exitChosen && hideToTrayAction->isChecked() && tray != nullptr && view->RunningCount() > 0) {
    hide();
    event->ignore();
    return;
  }
  if (!ConfirmQuit()) {
    event->ignore();
    return;
  }
  event->accept();
}

void CMainFrame::UpdateCounts() {
  const CDriftharbourView::EntryCounts counts = view->CountEntries();
  const QString text = QStringLiteral("Recording: %1    Retrying: %2    Stopped: %3")
                           .arg(counts.recording)
                           .arg(counts.retrying)
                           .arg(counts.stopped);
  const QString nextShow = ScheduleText::Soonest(view->Store());
  const QString line = nextShow.isEmpty() ? text : text + QStringLiteral("    ") + nextShow;
  if (countsLabel->text() != line) {
    countsLabel->setText(line);
  }
  if (tray != nullptr) {
    tray->SetRecordingCount(counts.recording);
    tray->SetNextShow(nextShow);
  }
  schedules->Flush();
}

void CMainFrame::RestoreWindowState() {
  const WindowState state = WindowState::Read(view->Store().Settings());
  hideToTrayAction->setChecked(state.hideToTray);
  view->RestoreColumnWidths(state.columnWidths);
  bool placed = false;
  if (state.geometry) {
    const QRect area(state.geometry->left, state.geometry->top, state.geometry->width, state.geometry->height);
    // Never smaller than the smallest frame, and never off every screen (a
    // monitor that has gone since).
    const QSize size = area.size().expandedTo(minimumSize());
    placed = QGuiApplication::screenAt(area.center()) != nullptr;
    if (placed) {
      setGeometry(QRect(area.topLeft(), size));
    } else {
      resize(size);
    }
  }
  // Placed by us, not by the window manager, so that the splash shown over
  // the window at start-up (CSplashDlg) is where the window appears; once
  // shown, when its size is final.
  centreWhenShown = !placed;
  if (state.maximized) {
    setWindowState(windowState() | Qt::WindowMaximized);
  }
}

bool CMainFrame::SaveWindowState() const {
  WindowState state;
  const QRect area = isMaximized() ? normalGeometry() : geometry();
  if (area.isValid()) {
    state.geometry = WindowState::Rect{area.x(), area.y(), area.width(), area.height()};
  }
  state.maximized = isMaximized();
  state.columnWidths = view->ColumnWidths();
  state.hideToTray = hideToTrayAction->isChecked();
  return state.StoreInto(view->Store().SettingsPath());
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  // The main window's layout has resized the view before this handler runs.
  QMainWindow::resizeEvent(event);
  view->Relayout();
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (centreWhenShown && screen != nullptr && !isMaximized()) {
    centreWhenShown = false;
    // move() places the frame, decorations included.
    QRect area(QPoint(), frameGeometry().size());
    area.moveCenter(screen->availableGeometry().center());
    move(area.topLeft());
  }
}

void CMainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  view->Relayout();
}
