#pragma once

// The message view VTree1 as a Qt view: a flat list with six resizable,
// movable columns, multiple selection with full-row highlight, right-click
// selection, type-ahead over all rows and the cell editor (F2). It feeds the
// user's actions into the core's handlers: keys, clicks, double clicks,
// focus, selection, mouse movement and scrolling.

#include <QElapsedTimer>
#include <QTreeView>

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::gui {

class MessageTreeView : public QTreeView {
  Q_OBJECT
 public:
  // Type-ahead starts a new search after this many milliseconds.
  static constexpr int kTypeAheadTimeout = 3500;

  explicit MessageTreeView(app::TKVmain& kv, QWidget* parent = nullptr);

  void keyboardSearch(const QString& search) override;
  // Closes the cell editor when one is open (the core cancelled the edit).
  void closeCellEditor();
  bool cellEditorOpen() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

 private:
  app::TKVmain& kv_;
  QElapsedTimer typeAheadClock_;
  QString typeAhead_;
  int lastHit_ = -1;
  bool closingEditor_ = false;
};

}  // namespace kelvrin::gui
