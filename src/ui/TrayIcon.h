#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The program's icon in the desktop's system tray, where there is one: its
// tool tip and a badge on the icon tell how many entries are recording, and
// its menu offers "Show" and "Quit". A click on the icon asks for the window
// too. Where the desktop has no tray the icon is never shown; the menu and
// the count still work (tests use them).
//
// Owns the tray icon and its menu. User-interface thread only.
class TrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TrayIcon(const QIcon& icon, QObject* parent = nullptr);
  ~TrayIcon() override;

  // QSystemTrayIcon::isSystemTrayAvailable().
  static bool Available();

  // Shows the icon when the desktop has a tray.
  void Show();
  void SetRecordingCount(int count);
  // A second line of the tooltip: the next show of all entries ("" none).
  void SetNextShow(const QString& text);
  int RecordingCount() const { return recording; }
  QString ToolTip() const;
  QMenu* Menu() const { return menu.get(); }
  QAction* ShowAction() const { return showAction; }
  QAction* QuitAction() const { return quitAction; }

 signals:
  void showRequested();
  void quitRequested();

 private:
  // The icon with the count drawn on it (the plain icon for 0).
  QIcon BadgedIcon() const;

  const QIcon plainIcon;
  int recording = 0;
  QString nextShow;
  // A menu has no widget to belong to here.
  std::unique_ptr<QMenu> menu;
  QAction* showAction = nullptr;
  QAction* quitAction = nullptr;
  QSystemTrayIcon* tray = nullptr;  // owned through Qt (this object is its parent)
};
