#include "tray/details_window.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "tray/cache_history_graph.h"
#include "tray/details_fields.h"
#include "tray/pictures.h"
#include "tray/tray_services.h"

namespace tenvar::tray {
namespace {

QLineEdit* ReadOnlyField(const char* name) {
  auto* field = new QLineEdit;
  field->setObjectName(QString::fromLatin1(name));
  field->setReadOnly(true);
  // Wide enough for the longest status text, so nothing is cut off.
  const int longest =
      field->fontMetrics().horizontalAdvance(QStringLiteral("Permanently connected"));
  field->setMinimumWidth(longest + 16);
  return field;
}

}  // namespace

QLineEdit* DetailsWindow::AddField(QGridLayout* grid, int row, const char* label, const char* name,
                                   const char* unit) {
  auto* caption = new QLabel(tr(label));
  QLineEdit* field = ReadOnlyField(name);
  caption->setBuddy(field);
  grid->addWidget(caption, row, 0);
  grid->addWidget(field, row, 1);
  if (unit != nullptr) grid->addWidget(new QLabel(tr(unit)), row, 2);
  return field;
}

DetailsWindow::DetailsWindow(TrayServices& services, QWidget* parent)
    : QDialog(parent), services_(services) {
  setObjectName(QStringLiteral("detailsWindow"));
  setWindowTitle(tr("Tenvar details"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* layout = new QVBoxLayout(this);
  auto* version = new QLabel(tr("Tenvar v1.21"));
  version->setEnabled(false);  // greyed, like a caption rather than a value
  layout->addWidget(version);

  auto* top = new QGridLayout;
  connections_ = AddField(top, 0, "Current number of &connections:", "connections");
  layout->addLayout(top);

  auto* cacheBox = new QGroupBox(tr("Cache:"));
  auto* cache = new QGridLayout(cacheBox);
  items_ = AddField(cache, 0, "&Items in cache:", "items");
  cacheSize_ = AddField(cache, 1, "&Size of cache:", "cacheSize", "MB.");
  auto* graphCaption = new QLabel(tr("Cache &history:"));
  graph_ = new QLabel;
  graph_->setObjectName(QStringLiteral("cacheHistory"));
  graph_->setFixedSize(kGraphWidth, kGraphHeight);
  graph_->setFocusPolicy(Qt::TabFocus);
  graph_->setAccessibleName(tr("Cache history"));
  graph_->setPixmap(QPixmap::fromImage(EmptyGraph()));
  graphCaption->setBuddy(graph_);
  cache->addWidget(graphCaption, 2, 0);
  cache->addWidget(graph_, 2, 1);
  hits_ = AddField(cache, 3, "Hi&ts from cache:", "hits");
  layout->addWidget(cacheBox);

  auto* dialBox = new QGroupBox(tr("Dial-up connection status:"));
  auto* dial = new QGridLayout(dialBox);
  countdown_ = AddField(dial, 0, "Hang &up countdown:", "countdown");
  phonebookEntry_ = AddField(dial, 1, "&Phonebook entry:", "phonebookEntry");
  auto* statusCaption = new QLabel(tr("St&atus:"));
  statusIcon_ = new QLabel;
  statusIcon_->setObjectName(QStringLiteral("statusIcon"));
  statusIcon_->setFixedSize(32, 32);
  statusText_ = ReadOnlyField("statusText");
  statusCaption->setBuddy(statusText_);
  auto* status = new QHBoxLayout;
  status->addWidget(statusIcon_);
  status->addWidget(statusText_);
  dial->addWidget(statusCaption, 2, 0);
  dial->addLayout(status, 2, 1);
  layout->addWidget(dialBox);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  QPushButton* close = buttons->button(QDialogButtonBox::Close);
  close->setObjectName(QStringLiteral("close"));
  close->setDefault(true);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  refresh_.setInterval(kRefreshMilliseconds);
  connect(&refresh_, &QTimer::timeout, this, &DetailsWindow::RefreshDetails);
}

void DetailsWindow::Open() {
  RefreshDetails();
  refresh_.start();
  show();
  raise();
  activateWindow();
}

void DetailsWindow::done(int result) {
  refresh_.stop();
  QDialog::done(result);
}

void DetailsWindow::RefreshDetails() {
  const DetailsFields fields = DetailsFor(services_.Details());
  connections_->setText(QString::fromStdString(fields.Connections));
  cacheSize_->setText(QString::fromStdString(fields.CacheSize));
  items_->setText(QString::fromStdString(fields.Items));
  countdown_->setText(QString::fromStdString(fields.Countdown));
  hits_->setText(QString::fromStdString(fields.Hits));
  phonebookEntry_->setText(QString::fromStdString(fields.PhonebookEntry));
  statusIcon_->setPixmap(StatePixmap(fields.StatusIcon));
  statusIcon_->setProperty("iconId", fields.StatusIcon);
  statusText_->setText(QString::fromStdString(fields.StatusText));
  graph_->setPixmap(QPixmap::fromImage(DrawCacheHistory(EmptyGraph(), services_.CacheHistory())));
}

}  // namespace tenvar::tray
