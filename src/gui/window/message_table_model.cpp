#include "gui/window/message_table_model.h"

#include "app/kvmain.h"
#include "app/message_view_handlers.h"
#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

MessageTableModel::MessageTableModel(app::TKVmain& kv, QObject* parent)
    : QAbstractTableModel(parent), kv_(kv) {
  subscription_ =
      kv_.VTree1.rowsChanged().add([this](const app::ViewChange& c) { onViewChange(c); });
}

MessageTableModel::~MessageTableModel() {
  kv_.VTree1.rowsChanged().remove(subscription_);
}

int MessageTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(kv_.VTree1.RootNodeCount());
}

int MessageTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : app::kColumnCount;
}

const mail::MessageDisplay* MessageTableModel::display(const app::ViewRow& row) const {
  auto it = displayCache_.find(row.Id);
  if (it != displayCache_.end()) return &it->second;
  const mail::TMailMessage* message = kv_.View().messageOf(row);
  if (message == nullptr) return nullptr;
  return &displayCache_.emplace(row.Id, mail::DisplayHeaders(*message)).first->second;
}

QVariant MessageTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const app::ViewRow& row = kv_.VTree1.Row(static_cast<std::size_t>(index.row()));
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      if (column == app::kColSpam) return {};
      if (column == app::kColIndex) return QString::number(row.Node.MsgIndex);
      if (!row.Initialized) return {};
      const mail::MessageDisplay* shown = display(row);
      if (shown == nullptr) return QString::fromLatin1(app::kNoText);
      switch (column) {
        case app::kColFrom:
          return shown->From.empty() ? QStringLiteral(" ") : qtText(shown->From);
        case app::kColTo:
          return qtText(shown->SendTo);
        case app::kColSubject:
          return qtText(shown->Subject);
        case app::kColDate:
          return qtText(shown->Date);
        default:
          return {};
      }
    }
    case Qt::EditRole:
      // The cell editor works on the text the rule lists see.
      if (column == app::kColSpam || !row.Initialized) return {};
      return qtText(kv_.View().VTree1GetText(row, column));
    case Qt::CheckStateRole:
      if (column != app::kColSpam) return {};
      return row.Checked ? Qt::Checked : Qt::Unchecked;
    case RowIdRole:
      return static_cast<qulonglong>(row.Id);
    case SpamLevelRole:
      return row.Node.SpamLevel;
    default:
      return {};
  }
}

QVariant MessageTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= app::kColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(app::kColumns[section].Header);
  return {};
}

Qt::ItemFlags MessageTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (kv_.VTree1.Enabled()) f |= Qt::ItemIsEnabled;
  if (index.column() == app::kColSpam) f |= Qt::ItemIsUserCheckable;
  if (index.column() >= app::kColFrom && index.column() <= app::kColDate) f |= Qt::ItemIsEditable;
  return f;
}

bool MessageTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || index.column() != app::kColSpam) {
    return false;
  }
  const bool checked = value.toInt() == Qt::Checked;
  // The core announces the row's change, which becomes dataChanged.
  kv_.VTree1.setChecked(static_cast<std::size_t>(index.row()), checked);
  return true;
}

void MessageTableModel::sort(int column, Qt::SortOrder) {
  // The direction is the core's: a second click on the sort column reverses it.
  kv_.View().VTree1HeaderClick(column);
}

void MessageTableModel::onViewChange(const app::ViewChange& change) {
  using Kind = app::ViewChange::Kind;
  const int first = static_cast<int>(change.First);
  const int last = static_cast<int>(change.First + change.Count) - 1;
  switch (change.What) {
    case Kind::ResetBegins:
      resetting_ = true;
      beginResetModel();
      displayCache_.clear();
      break;
    case Kind::ResetEnds:
      if (resetting_) endResetModel();
      resetting_ = false;
      break;
    case Kind::RowsAddBegins:
      if (change.Count > 0) beginInsertRows({}, first, last);
      break;
    case Kind::RowsAdded:
      if (change.Count > 0) endInsertRows();
      break;
    case Kind::RowsRemoveBegins:
      if (change.Count > 0) beginRemoveRows({}, first, last);
      break;
    case Kind::RowsRemoved:
      if (change.Count > 0) {
        // Ids are never reused within a fill, so stale cache entries only
        // cost memory until the next reset.
        endRemoveRows();
      }
      break;
    case Kind::RowsChanged:
      if (change.Count > 0) emit dataChanged(index(first, 0), index(last, app::kColumnCount - 1));
      break;
    case Kind::SortBegins: {
      emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
      sortPersistent_ = persistentIndexList();
      sortIds_.clear();
      sortIds_.reserve(static_cast<std::size_t>(sortPersistent_.size()));
      for (const QModelIndex& i : sortPersistent_) {
        sortIds_.push_back(kv_.VTree1.Row(static_cast<std::size_t>(i.row())).Id);
      }
      break;
    }
    case Kind::Sorted: {
      // New rows by id in one pass, so a large view re-sorts in linear time.
      std::unordered_map<std::uint32_t, int> rowOfId;
      if (!sortIds_.empty()) {
        rowOfId.reserve(kv_.VTree1.RootNodeCount());
        const auto& rows = kv_.VTree1.rows();
        for (std::size_t r = 0; r < rows.size(); ++r)
          rowOfId.emplace(rows[r].Id, static_cast<int>(r));
      }
      QModelIndexList moved;
      moved.reserve(sortPersistent_.size());
      for (qsizetype k = 0; k < sortPersistent_.size(); ++k) {
        auto it = rowOfId.find(sortIds_[static_cast<std::size_t>(k)]);
        moved.push_back(it == rowOfId.end() ? QModelIndex()
                                            : index(it->second, sortPersistent_[k].column()));
      }
      changePersistentIndexList(sortPersistent_, moved);
      sortPersistent_.clear();
      sortIds_.clear();
      emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
      break;
    }
  }
}

}  // namespace kelvrin::gui
