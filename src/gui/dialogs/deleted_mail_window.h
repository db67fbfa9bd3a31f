#pragma once

// "Deleted mail": the quarantine's copies of the messages deleted on the
// server, newest first. Restore sends the selected copies back to the own
// address through the account's SMTP server (the window keeps answering
// while it sends); Export writes them as .eml files. Results and errors
// stand in the window's status line.

#include <QDialog>
#include <filesystem>
#include <memory>
#include <vector>

#include "quarantine/quarantine_store.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace kelvrin::protocols {
class EventPump;
}
namespace kelvrin::settings {
class Form;
}

namespace kelvrin::gui {

class DeletedMailWindow : public QDialog {
  Q_OBJECT
 public:
  enum Column { ColDeleted, ColAccount, ColFrom, ColSubject, ColLevel, ColSize, ColumnCount };

  // folder: the quarantine; KVWForm1: the wizard's account settings, read
  // at every restore.
  DeletedMailWindow(std::filesystem::path folder, const settings::Form& KVWForm1,
                    protocols::EventPump& pump, QWidget* parent = nullptr);
  ~DeletedMailWindow() override;

  // Reads the quarantine again (another program may have deleted mail).
  void refresh();

  // Sends the selected copies back; returns when all were tried.
  void restoreSelected();
  // One selected copy into file; several into folder (named from their
  // subjects).
  void exportSelectedTo(const QString& fileOrFolder);

  QTreeWidget* list() const { return list_; }
  QLabel* statusLine() const { return status_; }
  QPushButton* restoreButton() const { return restore_; }
  QPushButton* exportButton() const { return export_; }
  bool sending() const { return sending_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  std::vector<quarantine::QuarantineEntry> selectedEntries() const;
  void chooseExport();
  void syncButtons();
  void setStatus(const std::string& text);

  std::filesystem::path folder_;
  const settings::Form& wizard_;
  protocols::EventPump& pump_;
  std::unique_ptr<quarantine::QuarantineStore> store_;
  QTreeWidget* list_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* restore_ = nullptr;
  QPushButton* export_ = nullptr;
  QPushButton* close_ = nullptr;
  bool sending_ = false;
};

}  // namespace kelvrin::gui
