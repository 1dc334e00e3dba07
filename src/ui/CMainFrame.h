#pragma once

#include <QMainWindow>

#include <string>

class CDriftharbourView;
class QAction;

// The main window: the menu ("Server" with Add Server F3, Save Server List
// Ctrl+S and Exit; "About") and the main view as its whole client area. Its
// move and resize events drive the view's LayoutAnchor; the smallest size it
// can take is its size after the view's initial update.
//
// Owns the view through Qt's parent chain; closing the window destroys the
// view, which stops every recording. User-interface thread only.
class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // settingsPath as for CDriftharbourView (empty: beside the executable).
  explicit CMainFrame(std::string settingsPath = {}, QWidget* parent = nullptr);
  ~CMainFrame() override;

  CDriftharbourView* View() const { return view; }
  QAction* AddServerAction() const { return addServerAction; }
  QAction* SaveServerListAction() const { return saveServerListAction; }
  QAction* AboutAction() const { return aboutAction; }

  // Runs the About box modally.
  void OnAppAbout();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  CDriftharbourView* view = nullptr;  // owned through Qt
  QAction* addServerAction = nullptr;
  QAction* saveServerListAction = nullptr;
  QAction* aboutAction = nullptr;
};
