#pragma once

#include <QSplashScreen>

// The splash window: the banner in a frameless window centred over the main
// window, shown at start-up for about kShowMs and then hidden (not
// destroyed; it goes with the application object).
//
// Owned by the application object; user-interface thread only. The hiding is
// a single-shot timer on the user-interface thread: widgets are never touched
// from another thread.
class CSplashDlg : public QSplashScreen {
  Q_OBJECT

 public:
  static constexpr int kShowMs = 800;

  CSplashDlg();
  ~CSplashDlg() override;

  // Shows the splash centred over owner (or the screen) and hides it again
  // after kShowMs.
  void ShowBriefly(QWidget* owner);
};
