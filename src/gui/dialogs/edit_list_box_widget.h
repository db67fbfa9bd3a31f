#pragma once

// The list box of the rule lists, the favourites and the web-site list, over
// the core's TEditListBox. Every key, click and edit goes to the model, and
// the widget then shows what the model holds: entries, selection, the
// in-place editor and the drag image. The widget decides nothing itself.

#include <QListWidget>
#include <functional>

#include "filter/edit_list_box.h"
#include "outgoing/list_menu.h"

class QLabel;
class QLineEdit;
class QMenu;

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

  // Popup3, the list's context menu, with the items the owner of the list
  // offers; mailTo runs its "MailTo" item.
  void setListMenu(outgoing::ListMenuOwner owner, std::function<void()> mailTo = {});
  QMenu* listMenu() const { return listMenu_; }
  // Popup3Popup for a point of the viewport: the entry there is taken and
  // the items are shown or hidden. The menu is not opened.
  void prepareListMenu(const QPoint& viewportPos);

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
  void contextMenuEvent(QContextMenuEvent* event) override;

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
  QMenu* listMenu_ = nullptr;
  outgoing::ListMenuOwner menuOwner_ = outgoing::ListMenuOwner::RuleList;
};

}  // namespace kelvrin::gui
