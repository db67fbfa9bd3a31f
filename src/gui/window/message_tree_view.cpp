#include "gui/window/message_tree_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>

#include "app/body_display.h"
#include "app/kvmain.h"
#include "app/message_view_handlers.h"

namespace kelvrin::gui {

namespace {

constexpr const char* kEditorName = "VTree1Editor";

}  // namespace

MessageTreeView::MessageTreeView(app::TKVmain& kv, QWidget* parent) : QTreeView(parent), kv_(kv) {
  setObjectName(QStringLiteral("VTree1"));
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::EditKeyPressed);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setMouseTracking(true);
  header()->setSectionsMovable(true);
  header()->setSectionsClickable(true);
  header()->setSortIndicatorShown(true);
  header()->setStretchLastSection(false);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this] { kv_.Body().VTree1Scroll(); });
  connect(this, &QTreeView::clicked, this, [this] { kv_.Body().VTree1Click(); });
}

bool MessageTreeView::cellEditorOpen() const {
  const auto editors = viewport()->findChildren<QLineEdit*>(QString::fromLatin1(kEditorName));
  for (QLineEdit* e : editors) {
    if (e->isVisible()) return true;
  }
  return false;
}

void MessageTreeView::closeCellEditor() {
  if (closingEditor_) return;
  const auto editors = viewport()->findChildren<QLineEdit*>(QString::fromLatin1(kEditorName));
  for (QLineEdit* e : editors) {
    if (e->isVisible()) closeEditor(e, QAbstractItemDelegate::NoHint);
  }
}

void MessageTreeView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  closingEditor_ = true;
  QTreeView::closeEditor(editor, hint);
  if (kv_.VTree1.Editor().Editing) kv_.VTree1.CancelCellEdit();
  closingEditor_ = false;
}

void MessageTreeView::keyPressEvent(QKeyEvent* event) {
  using Key = app::BodyDisplay::Key;
  const int key = event->key();
  if (key == Qt::Key_R && (event->modifiers() & Qt::ControlModifier)) {
    kv_.Body().VTree1KeyDown(Key::Other, true);
    event->accept();
    return;
  }
  if (key == Qt::Key_Space && kv_.View().VTree1KeyAction(true)) {
    kv_.Body().VTree1KeyDown(Key::Other);
    event->accept();
    return;
  }
  if (key == Qt::Key_Up || key == Qt::Key_Down) {
    QTreeView::keyPressEvent(event);
    kv_.Body().VTree1KeyDown(key == Qt::Key_Up ? Key::Up : Key::Down);
    return;
  }
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    kv_.Body().VTree1KeyDown(Key::Enter);
    event->accept();
    return;
  }
  kv_.Body().VTree1KeyDown(Key::Other);
  QTreeView::keyPressEvent(event);
}

void MessageTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) kv_.View().VTree1DblClick();
}

void MessageTreeView::mouseMoveEvent(QMouseEvent* event) {
  kv_.Body().VTree1MouseMove(static_cast<int>(event->globalPosition().y()));
  QTreeView::mouseMoveEvent(event);
}

void MessageTreeView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTreeView::currentChanged(current, previous);
  const auto rows = static_cast<int>(kv_.VTree1.RootNodeCount());
  if (current.isValid() && current.row() < rows) {
    const bool moved = !previous.isValid() || previous.row() != current.row();
    kv_.VTree1.setFocusedRow(static_cast<std::size_t>(current.row()));
    if (moved) kv_.Body().VTree1KeyFocusChange();
  } else {
    kv_.VTree1.setFocusedRow(std::nullopt);
  }
}

void MessageTreeView::selectionChanged(const QItemSelection& selected,
                                       const QItemSelection& deselected) {
  QTreeView::selectionChanged(selected, deselected);
  const auto rows = static_cast<int>(kv_.VTree1.RootNodeCount());
  auto apply = [&](const QItemSelection& ranges, bool on) {
    for (const QItemSelectionRange& range : ranges) {
      for (int r = range.top(); r <= range.bottom() && r < rows; ++r) {
        const bool isSelected = selectionModel()->isRowSelected(r, {});
        if (on == isSelected) kv_.VTree1.setSelected(static_cast<std::size_t>(r), on);
      }
    }
  };
  apply(deselected, false);
  apply(selected, true);
}

void MessageTreeView::keyboardSearch(const QString& search) {
  if (model() == nullptr || search.isEmpty()) return;
  const int rows = model()->rowCount();
  if (rows == 0) return;
  if (!typeAheadClock_.isValid() || typeAheadClock_.elapsed() > kTypeAheadTimeout) {
    typeAhead_.clear();
  }
  typeAheadClock_.start();
  typeAhead_ += search;
  const QModelIndex current = currentIndex();
  const int column = current.isValid() && current.column() > 0 ? current.column() : 1;
  // From the last hit on, so that typing more letters refines the same row.
  const int start = lastHit_ >= 0 && lastHit_ < rows ? lastHit_ : 0;
  for (int k = 0; k < rows; ++k) {
    const int r = (start + k) % rows;
    const QModelIndex candidate = model()->index(r, column);
    if (candidate.data().toString().startsWith(typeAhead_, Qt::CaseInsensitive)) {
      lastHit_ = r;
      selectionModel()->setCurrentIndex(
          candidate, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      scrollTo(candidate);
      return;
    }
  }
}

}  // namespace kelvrin::gui
