#pragma once

// The list box of the rule lists, the favourites and the web-site list, over
// the core's TEditListBox. Every key, click and edit goes to the model, and
// the widget then shows what the model holds: entries, selection, the
// in-place editor and the drag image. The widget decides nothing itself.

#include <QListWidget>

#include "filter/edit_list_box.h"

class QLabel;
class QLineEdit;

namespace kelvrin::gui {

class EditListBoxWidget : public QListWidget {
  Q_OBJECT

 public:
  // The model must outlive the widget.
  explicit EditListBoxWidget(filter::TEditListBox& model, QWidget* parent = nullptr);
  ~EditListBoxWidget() override;

  filter::TEditListBox& listModel() const { return model_; }
  QLineEdit* editor() const { return editor_; }
  QLabel* dragImage() const { return dragImage_; }

  // Shows the model again; call it after changing the model from outside
  // (a copy command of the message view adding an entry).
  void refresh();

 signals:
  // The entries changed through this widget.
  void entriesChanged();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs one model operation and shows its outcome.
  template <typename Op>
  void forward(Op op);
  void showEditor();

  filter::TEditListBox& model_;
  QLineEdit* editor_ = nullptr;
  QLabel* dragImage_ = nullptr;
  // The release that ends a double click is not a click of its own: it
  // would close the editor the double click opened.
  bool releaseEndsDoubleClick_ = false;
};

}  // namespace kelvrin::gui
