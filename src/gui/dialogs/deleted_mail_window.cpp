#include "gui/dialogs/deleted_mail_window.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/dialogs/qt_text.h"
#include "protocols/event_pump.h"
#include "protocols/smtp_client.h"
#include "settings/form.h"

#include "quarantine/deleted_mail.h"
#include "quarantine/restore.h"

namespace kelvrin::gui {

namespace {

constexpr int kIdRole = Qt::UserRole;

std::filesystem::path localPath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

}  // namespace

DeletedMailWindow::DeletedMailWindow(std::filesystem::path folder, const settings::Form& KVWForm1,
                                     protocols::EventPump& pump, QWidget* parent)
    : QDialog(parent), folder_(std::move(folder)), wizard_(KVWForm1), pump_(pump) {
  setObjectName(QStringLiteral("DeletedMail"));
  setWindowTitle(tr("Deleted mail"));
  auto* layout = new QVBoxLayout(this);
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("DeletedMailList"));
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setHeaderLabels(
      {tr("Deleted"), tr("Account"), tr("From"), tr("Subject"), tr("Level"), tr("Size")});
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(ColSubject, QHeaderView::Stretch);
  layout->addWidget(list_);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("DeletedMailStatus"));
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  status_->setWordWrap(true);
  layout->addWidget(status_);

  auto* buttons = new QHBoxLayout;
  restore_ = new QPushButton(tr("Restore"), this);
  export_ = new QPushButton(tr("Export"), this);
  close_ = new QPushButton(tr("Close"), this);
  buttons->addWidget(restore_);
  buttons->addWidget(export_);
  buttons->addStretch();
  buttons->addWidget(close_);
  layout->addLayout(buttons);

  connect(restore_, &QPushButton::clicked, this, &DeletedMailWindow::restoreSelected);
  connect(export_, &QPushButton::clicked, this, &DeletedMailWindow::chooseExport);
  connect(close_, &QPushButton::clicked, this, &DeletedMailWindow::reject);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, &DeletedMailWindow::syncButtons);
  resize(820, 420);
  refresh();
}

DeletedMailWindow::~DeletedMailWindow() = default;

void DeletedMailWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous() && !sending_) refresh();
}

void DeletedMailWindow::reject() {
  // A send in progress finishes first: its client lives on this call's stack.
  if (sending_) return;
  QDialog::reject();
}

void DeletedMailWindow::refresh() {
  list_->clear();
  std::vector<quarantine::DeletedMailRow> rows;
  try {
    store_ = std::make_unique<quarantine::QuarantineStore>(folder_);
    store_->Open();
    rows = quarantine::DeletedMailRows(store_->Entries());
  } catch (const std::exception& e) {
    store_.reset();
    setStatus(e.what());
    syncButtons();
    return;
  }
  for (const auto& row : rows) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(ColDeleted, qtText(row.Deleted));
    item->setText(ColAccount, qtText(row.Account));
    item->setText(ColFrom, qtText(row.From));
    item->setText(ColSubject, qtText(row.Subject));
    item->setText(ColLevel, qtText(row.Level));
    item->setText(ColSize, qtText(row.Size));
    item->setTextAlignment(ColLevel, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(ColSize, Qt::AlignRight | Qt::AlignVCenter);
    item->setData(ColDeleted, kIdRole, QString::fromStdString(row.Id));
  }
  for (int c = 0; c < ColumnCount; ++c) {
    if (c != ColSubject) list_->resizeColumnToContents(c);
  }
  setStatus(rows.empty()
                ? "No deleted mail is kept"
                : std::to_string(rows.size()) + " deleted messages kept in " + folder_.string());
  syncButtons();
}

std::vector<quarantine::QuarantineEntry> DeletedMailWindow::selectedEntries() const {
  std::vector<quarantine::QuarantineEntry> entries;
  if (!store_) return entries;
  // In the list's order, whatever order the user selected them in.
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    if (!item->isSelected()) continue;
    if (auto entry = store_->Find(item->data(ColDeleted, kIdRole).toString().toStdString())) {
      entries.push_back(std::move(*entry));
    }
  }
  return entries;
}

void DeletedMailWindow::syncButtons() {
  const bool any = !list_->selectedItems().isEmpty();
  restore_->setEnabled(any && !sending_);
  export_->setEnabled(any && !sending_);
  close_->setEnabled(!sending_);
  list_->setEnabled(!sending_);
}

void DeletedMailWindow::setStatus(const std::string& text) {
  status_->setText(qtText(text));
}

void DeletedMailWindow::restoreSelected() {
  if (sending_) return;
  const auto entries = selectedEntries();
  if (entries.empty()) return;
  quarantine::RestoreAccount account;
  try {
    account = quarantine::RestoreAccountOf(wizard_);
  } catch (const quarantine::QuarantineError& e) {
    setStatus(e.what());
    return;
  }
  sending_ = true;
  syncButtons();
  int restored = 0;
  std::vector<std::string> errors;
  for (const auto& entry : entries) {
    setStatus("Restoring \"" + quarantine::DeletedMailRows({entry}).front().Subject + "\" ...");
    try {
      const std::string bytes = store_->ReadMessage(entry);
      protocols::TSmtpClient client;
      client.SetEventPump(pump_);
      quarantine::ConfigureRestoreClient(client, account);
      quarantine::RestoreMessage(client, account.Address, bytes);
      ++restored;
    } catch (const std::exception& e) {
      errors.push_back(e.what());
    }
  }
  sending_ = false;
  std::string text =
      quarantine::RestoredText(restored, static_cast<int>(errors.size()), account.Address);
  for (const auto& error : errors)
    text += "\n" + error;
  setStatus(text);
  syncButtons();
}

void DeletedMailWindow::chooseExport() {
  const auto entries = selectedEntries();
  if (entries.empty()) return;
  QString target;
  if (entries.size() == 1) {
    const QString proposed =
        QDir::home().filePath(qtText(quarantine::ExportFileName(entries.front())));
    target = QFileDialog::getSaveFileName(this, tr("Export deleted mail"), proposed,
                                          tr("Mail messages (*.eml)"));
  } else {
    target =
        QFileDialog::getExistingDirectory(this, tr("Export deleted mail into"), QDir::homePath());
  }
  if (!target.isEmpty()) exportSelectedTo(target);
}

void DeletedMailWindow::exportSelectedTo(const QString& fileOrFolder) {
  const auto entries = selectedEntries();
  if (entries.empty() || !store_) return;
  const std::filesystem::path target = localPath(fileOrFolder);
  int exported = 0;
  std::vector<std::string> errors;
  for (const auto& entry : entries) {
    try {
      const std::filesystem::path file =
          entries.size() == 1 ? target : quarantine::ExportPathIn(target, entry);
      quarantine::ExportMessage(*store_, entry, file);
      ++exported;
    } catch (const std::exception& e) {
      errors.push_back(e.what());
    }
  }
  std::string text = exported > 0 ? quarantine::ExportedText(exported, target.string()) : "";
  for (const auto& error : errors)
    text += (text.empty() ? "" : "\n") + error;
  setStatus(text);
}

}  // namespace kelvrin::gui
