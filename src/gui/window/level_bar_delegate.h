#pragma once

// The Spam% cell: the check box as the style draws it, then the level bar
// in the sunken frame, pixel column by pixel column as the core's level bar
// gives them. The delegate of the other columns opens the cell editor (F2)
// on the text the rule lists see, read-only, so that part of it can be
// selected and copied into a list.

#include <QStyledItemDelegate>

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::gui {

class LevelBarDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  explicit LevelBarDelegate(app::TKVmain& kv, QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

  // Paints the bar and its frame of one row into a cell rectangle.
  void paintBar(QPainter* painter, const QRect& cell, int row) const;

 private:
  app::TKVmain& kv_;
};

// Draws the light grid line under every cell and opens the cell editor.
class MessageCellDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  explicit MessageCellDelegate(app::TKVmain& kv, QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  // The editor never changes a message.
  void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

 signals:
  // The context menu was asked for inside the cell editor: the message
  // view's own menu serves it, so that the selected text can be copied.
  void editorContextMenu(const QPoint& globalPos);

 private:
  app::TKVmain& kv_;
};

// The horizontal grid line of a row.
void paintGridLine(QPainter* painter, const QRect& cell);

}  // namespace kelvrin::gui
