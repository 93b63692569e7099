// "Tenvar details": open connections, cache counters with the twenty-second hit-rate graph,
// the idle hang-up countdown and the dial-up state, refreshed every 500 ms while shown.
// Lives on the GUI thread; reads the program only through TrayServices.
#pragma once

#include <QDialog>
#include <QTimer>

class QGridLayout;
class QLabel;
class QLineEdit;

namespace tenvar::tray {

class TrayServices;

class DetailsWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kRefreshMilliseconds = 500;

  explicit DetailsWindow(TrayServices& services, QWidget* parent = nullptr);

  // Refreshes at once and then every kRefreshMilliseconds, until the window is closed.
  void Open();
  void RefreshDetails();

  // Enter is Close: Close is the default button and every way out passes through done(), so
  // the window can never be hidden while its owner still counts it as open.
  void done(int result) override;

 private:
  QLineEdit* AddField(QGridLayout* grid, int row, const char* label, const char* name,
                      const char* unit = nullptr);

  TrayServices& services_;
  QTimer refresh_;
  QLineEdit* connections_;
  QLineEdit* items_;
  QLineEdit* cacheSize_;
  QLineEdit* hits_;
  QLineEdit* countdown_;
  QLineEdit* phonebookEntry_;
  QLabel* graph_;
  QLabel* statusIcon_;
  QLineEdit* statusText_;
};

}  // namespace tenvar::tray
