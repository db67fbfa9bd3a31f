#pragma once

// The message view's rows for Qt: a table over the core's MessageViewModel.
// The core keeps the rows, their order and their marks; this model shows
// them and forwards exactly what the core says changed — a reset when a fill
// begins, rows added, the data or mark of a range of rows, and a new order
// after a sort, which keeps every persistent index (and so the selection) on
// its row.

#include <QAbstractTableModel>
#include <QModelIndexList>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "app/message_view.h"
#include "mail/display_text.h"

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::gui {

class MessageTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // The id of a row (the core's ViewRow::Id), for tests and the view.
  static constexpr int RowIdRole = Qt::UserRole + 1;
  // The row's spam level, for the level bar.
  static constexpr int SpamLevelRole = Qt::UserRole + 2;

  explicit MessageTableModel(app::TKVmain& kv, QObject* parent = nullptr);
  ~MessageTableModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // The check box of the first column marks the row through the core.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  // A header click: the core sorts (and says what it did).
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  app::TKVmain& core() const { return kv_; }

 private:
  void onViewChange(const app::ViewChange& change);
  const mail::MessageDisplay* display(const app::ViewRow& row) const;

  app::TKVmain& kv_;
  std::size_t subscription_ = 0;
  // Display text of the rows' headers by row id, made when first shown.
  mutable std::unordered_map<std::uint32_t, mail::MessageDisplay> displayCache_;
  // Across a sort: the persistent indexes and the ids of their rows.
  QModelIndexList sortPersistent_;
  std::vector<std::uint32_t> sortIds_;
  bool resetting_ = false;
};

}  // namespace kelvrin::gui
