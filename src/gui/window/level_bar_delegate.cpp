#include "gui/window/level_bar_delegate.h"

#include <qdrawutil.h>

#include <QLineEdit>
#include <QPainter>

#include "app/kvmain.h"
#include "app/level_bar.h"
#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

void paintGridLine(QPainter* painter, const QRect& cell) {
  painter->save();
  painter->setPen(QColor(0xD8, 0xD8, 0xD8));
  painter->drawLine(cell.bottomLeft(), cell.bottomRight());
  painter->restore();
}

LevelBarDelegate::LevelBarDelegate(app::TKVmain& kv, QObject* parent)
    : QStyledItemDelegate(parent), kv_(kv) {}

void LevelBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  QStyledItemDelegate::paint(painter, option, index);
  if (index.row() < static_cast<int>(kv_.VTree1.RootNodeCount())) {
    paintBar(painter, option.rect, index.row());
  }
  paintGridLine(painter, option.rect);
}

void LevelBarDelegate::paintBar(QPainter* painter, const QRect& cell, int row) const {
  auto& node = kv_.VTree1.Row(static_cast<std::size_t>(row)).Node;
  const app::LevelBar bar = app::VTree1BeforeCellPaint(node.SpamLevel, cell.width());
  if (bar.FrameWidth <= 0) return;
  const QRect frame(cell.left() + bar.FrameLeft, cell.top() + 1, bar.FrameWidth, cell.height() - 2);
  if (frame.height() <= 0) return;
  painter->save();
  QPalette shades;
  shades.setColor(QPalette::Light, QColor(0xFF, 0xFF, 0xFF));
  shades.setColor(QPalette::Dark, QColor(0x80, 0x80, 0x80));
  shades.setColor(QPalette::Mid, QColor(0xA0, 0xA0, 0xA0));
  qDrawShadePanel(painter, frame, shades, true, 2);
  const int top = frame.top() + 2;
  const int height = frame.height() - 4;
  if (height > 0) {
    for (int x = 0; x < bar.BarWidth; ++x) {
      const std::uint32_t c = bar.Colours[static_cast<std::size_t>(x)];
      painter->fillRect(QRect(cell.left() + bar.InnerLeft + x, top, 1, height),
                        QColor(app::redOf(c), app::greenOf(c), app::blueOf(c)));
    }
  }
  painter->restore();
}

MessageCellDelegate::MessageCellDelegate(app::TKVmain& kv, QObject* parent)
    : QStyledItemDelegate(parent), kv_(kv) {}

void MessageCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  QStyledItemDelegate::paint(painter, option, index);
  paintGridLine(painter, option.rect);
}

QWidget* MessageCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                           const QModelIndex& index) const {
  auto* editor = new QLineEdit(parent);
  editor->setReadOnly(true);
  editor->setFrame(false);
  editor->setObjectName(QStringLiteral("VTree1Editor"));
  const int column = index.column();
  kv_.VTree1.EditCell(column, coreText(index.data(Qt::EditRole).toString()));
  auto& view = kv_.VTree1;
  QObject::connect(editor, &QLineEdit::selectionChanged, editor,
                   [editor, &view] { view.setEditorSelection(coreText(editor->selectedText())); });
  editor->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* self = const_cast<MessageCellDelegate*>(this);
  QObject::connect(editor, &QLineEdit::customContextMenuRequested, self,
                   [self, editor](const QPoint& pos) {
                     emit self->editorContextMenu(editor->mapToGlobal(pos));
                   });
  return editor;
}

void MessageCellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    line->setText(index.data(Qt::EditRole).toString());
    line->selectAll();
    kv_.VTree1.setEditorSelection(coreText(line->selectedText()));
  }
}

}  // namespace kelvrin::gui
