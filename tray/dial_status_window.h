// The dialling status window: while a dial is in progress it shows the current dialling step
// beside an animated picture and offers Cancel, which hangs up. Opened and closed by the dial
// manager (through CHiddenWnd); lives on the GUI thread.
#pragma once

#include <QDialog>
#include <QTimer>

#include "tray/dial_animation.h"

class QLabel;

namespace tenvar::tray {

class TrayServices;

class DialStatusWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kTickMilliseconds = 50;

  explicit DialStatusWindow(TrayServices& services, QWidget* parent = nullptr);

  // Starts the animation from its first frame and shows the window on top, centred.
  void Open();
  // Stops the animation and hides the window; what the dial manager asks for.
  void Close();
  // One 50 ms tick: the status text, and every fourth tick the next frame.
  void Tick();
  // The frame now shown, 0 to 3.
  int Frame() const { return frame_; }

  // Esc is Cancel: the line is hung up, never left dialling behind a closed window.
  void reject() override;

 signals:
  void Cancelled();

 protected:
  // Enter does nothing here: only the dial manager ends this window, or Cancel.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TrayServices& services_;
  QTimer ticks_;
  DialAnimation animation_;
  int frame_ = 0;
  QLabel* picture_;
  QLabel* text_;
};

}  // namespace tenvar::tray
