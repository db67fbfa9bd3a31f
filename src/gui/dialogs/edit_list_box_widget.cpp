#include "gui/dialogs/edit_list_box_widget.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <optional>

#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

namespace {

filter::ShiftState shiftOf(Qt::KeyboardModifiers modifiers) {
  filter::ShiftState s;
  s.Shift = modifiers.testFlag(Qt::ShiftModifier);
  s.Ctrl = modifiers.testFlag(Qt::ControlModifier);
  return s;
}

QColor rgbColor(std::uint32_t rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

}  // namespace

EditListBoxWidget::EditListBoxWidget(filter::TEditListBox& model, QWidget* parent)
    : QListWidget(parent), model_(model) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setDragEnabled(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setToolTip(qtText(model.Hint()));

  editor_ = new QLineEdit(viewport());
  editor_->setFrame(false);
  editor_->hide();
  editor_->installEventFilter(this);
  connect(editor_, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_.setEditorText(coreText(text)); });

  dragImage_ = new QLabel(viewport());
  dragImage_->setTextFormat(Qt::PlainText);
  dragImage_->setAutoFillBackground(true);
  dragImage_->setContentsMargins(1, 1, 0, 0);
  dragImage_->hide();

  // A copy of the metrics, not the widget: the model may outlive us.
  const QFontMetrics metrics(font());
  model_.measureText = [metrics](std::string_view text) {
    const QSize s = metrics.size(Qt::TextSingleLine, qtText(text));
    return filter::TextExtent{s.width(), s.height()};
  };
  refresh();
}

EditListBoxWidget::~EditListBoxWidget() = default;

template <typename Op>
void EditListBoxWidget::forward(Op op) {
  const std::uint64_t before = model_.revision();
  op();
  refresh();
  if (model_.revision() != before) emit entriesChanged();
}

void EditListBoxWidget::refresh() {
  const int count = model_.Count();
  while (this->count() > count)
    delete takeItem(this->count() - 1);
  for (int i = 0; i < count; ++i) {
    const QString text = qtText(model_.Items(i));
    if (i < this->count()) {
      if (item(i)->text() != text) item(i)->setText(text);
    } else {
      addItem(text);
    }
  }
  QItemSelection selection;
  for (int i = 0; i < count; ++i) {
    if (model_.Selected(i)) selection.select(model()->index(i, 0), model()->index(i, 0));
  }
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  const int current = model_.ItemIndex();
  selectionModel()->setCurrentIndex(current >= 0 ? model()->index(current, 0) : QModelIndex(),
                                    QItemSelectionModel::NoUpdate);
  if (current >= 0) scrollToItem(item(current));

  const filter::TImgBox& drag = model_.dragImage();
  if (drag.Visible) {
    QPalette palette = dragImage_->palette();
    palette.setColor(QPalette::Window, rgbColor(model_.DragColor()));
    palette.setColor(QPalette::WindowText, Qt::black);
    dragImage_->setPalette(palette);
    dragImage_->setText(qtText(drag.Text));
    dragImage_->setGeometry(drag.Left, drag.Top, drag.Width, drag.Height);
    dragImage_->show();
    dragImage_->raise();
  } else {
    dragImage_->hide();
  }
  showEditor();
}

void EditListBoxWidget::showEditor() {
  const filter::TListBoxEdit& e = model_.editor();
  if (!e.Visible || e.EntryIndex < 0 || e.EntryIndex >= count()) {
    if (editor_->isVisible()) {
      editor_->hide();
      if (model_.listFocused()) setFocus(Qt::OtherFocusReason);
    }
    return;
  }
  editor_->setFont(font());
  editor_->setGeometry(visualItemRect(item(e.EntryIndex)));
  const QString text = qtText(e.Text);
  if (editor_->text() != text) editor_->setText(text);
  // The model counts bytes; the editor counts characters, which differ only
  // beyond ASCII, where the whole text is the best selection to offer.
  if (e.SelLength > 0) {
    editor_->selectAll();
  } else {
    editor_->setCursorPosition(static_cast<int>(editor_->text().size()));
  }
  editor_->show();
  editor_->raise();
  if (e.Focused) editor_->setFocus(Qt::OtherFocusReason);
}

void EditListBoxWidget::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
      // Moving through the list is the list box's own: the model takes the
      // entry it lands on.
      QListWidget::keyPressEvent(event);
      const int row = currentRow();
      forward([this, row] { model_.setItemIndex(row >= 0 && row < model_.Count() ? row : -1); });
      return;
    }
    case Qt::Key_Insert:
    case Qt::Key_Delete:
    case Qt::Key_F2:
    case Qt::Key_Plus:
      event->accept();  // acted on when released
      return;
    default:
      break;
  }
  const QString text = event->text();
  if (text.size() == 1 && text.front().unicode() >= 0x20 && text.front().unicode() != 0x7F) {
    const char key = text.front().unicode() < 0x80 ? static_cast<char>(text.front().unicode()) : 0;
    forward([this, key] { model_.KeyPress(key); });
    event->accept();
    return;
  }
  QListWidget::keyPressEvent(event);
}

void EditListBoxWidget::keyReleaseEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) {
    event->accept();
    return;
  }
  std::optional<filter::ListKey> key;
  switch (event->key()) {
    case Qt::Key_Insert:
      key = filter::ListKey::Insert;
      break;
    case Qt::Key_Delete:
      key = filter::ListKey::Delete;
      break;
    case Qt::Key_F2:
      key = filter::ListKey::F2;
      break;
    case Qt::Key_Plus:
      // Only the keypad's "+" adds an entry; the main keyboard's is a
      // typed character.
      if (event->modifiers().testFlag(Qt::KeypadModifier)) key = filter::ListKey::NumpadPlus;
      break;
    default:
      break;
  }
  if (!key) {
    QListWidget::keyReleaseEvent(event);
    return;
  }
  forward([this, k = *key] { model_.KeyUp(k); });
  event->accept();
}

void EditListBoxWidget::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  // The right button opens the list's menu, which takes the entry itself;
  // a click of it would undo a multiple selection.
  if (event->button() == Qt::RightButton && listMenu_) {
    event->accept();
    return;
  }
  const QPoint p = event->position().toPoint();
  forward([this, event, p] { model_.MouseDown(shiftOf(event->modifiers()), p.x(), p.y()); });
  event->accept();
}

void EditListBoxWidget::mouseMoveEvent(QMouseEvent* event) {
  if (!model_.Dragging()) return;
  const QPoint p = event->position().toPoint();
  forward([this, p] { model_.MouseMove(p.x(), p.y()); });
  event->accept();
}

void EditListBoxWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && listMenu_) {
    event->accept();
    return;
  }
  if (releaseEndsDoubleClick_) {
    releaseEndsDoubleClick_ = false;
    event->accept();
    return;
  }
  const QModelIndex hit = indexAt(event->position().toPoint());
  const int index = hit.isValid() ? hit.row() : -1;
  forward([this, event, index] { model_.Click(shiftOf(event->modifiers()), index); });
  event->accept();
}

void EditListBoxWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  releaseEndsDoubleClick_ = true;
  forward([this] { model_.DblClick(); });
  event->accept();
}

void EditListBoxWidget::setListMenu(outgoing::ListMenuOwner owner, std::function<void()> mailTo) {
  menuOwner_ = owner;
  delete listMenu_;
  listMenu_ = new QMenu(this);
  listMenu_->setObjectName(QStringLiteral("Popup3"));
  const auto add = [this](const char* name, const QString& caption, std::function<void()> run) {
    QAction* a = listMenu_->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, [run = std::move(run)] {
      if (run) run();
    });
  };
  add("MailTo1", tr("MailTo"), std::move(mailTo));
  add("Edit1", tr("Edit"),
      [this] { forward([this] { outgoing::Pop3click(model_, outgoing::ListMenuItem::Edit); }); });
  add("Delete1", tr("Delete"),
      [this] { forward([this] { outgoing::Pop3click(model_, outgoing::ListMenuItem::Delete); }); });
  // Offered by no list yet.
  add("Paste1", tr("Paste"), {});
}

void EditListBoxWidget::prepareListMenu(const QPoint& viewportPos) {
  if (!listMenu_) return;
  const QModelIndex hit = indexAt(viewportPos);
  forward([this, &hit] { outgoing::Popup3Popup(model_, hit.isValid() ? hit.row() : -1); });
  const outgoing::ListMenuItems shown = outgoing::Popup3Items(menuOwner_);
  const QList<QAction*> actions = listMenu_->actions();
  actions[0]->setVisible(shown.MailTo);
  actions[1]->setVisible(shown.Edit);
  actions[2]->setVisible(shown.Delete);
  actions[3]->setVisible(shown.Paste);
}

void EditListBoxWidget::contextMenuEvent(QContextMenuEvent* event) {
  if (!listMenu_) {
    QListWidget::contextMenuEvent(event);
    return;
  }
  prepareListMenu(event->pos());
  listMenu_->exec(event->globalPos());
  event->accept();
}

bool EditListBoxWidget::eventFilter(QObject* watched, QEvent* event) {
  if (watched == editor_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      forward([this] {
        model_.setEditorText(coreText(editor_->text()));
        model_.EditorKeyDown(filter::EditorKey::Enter);
      });
      return true;  // the key goes no further
    }
    if (key->key() == Qt::Key_Escape) {
      forward([this] { model_.EditorKeyDown(filter::EditorKey::Escape); });
      return true;
    }
  }
  return QListWidget::eventFilter(watched, event);
}

}  // namespace kelvrin::gui
