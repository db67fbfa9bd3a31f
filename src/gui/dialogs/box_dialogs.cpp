#include "gui/dialogs/box_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <algorithm>

#include "gui/dialogs/qt_text.h"
#include "ui/box_layout.h"

namespace kelvrin::gui {

namespace {

// Wider texts wrap instead of making the box wider than a screen.
constexpr int kMaxTextWidth = 560;
// The narrowest button, so that "&OK" is no smaller than the others users know.
constexpr int kMinButtonWidth = 75;

QRect toQRect(const ui::BoxRect& r) {
  return QRect(r.left, r.top, r.width, r.height);
}

ui::BoxSize sizeOf(const QSize& s) {
  return ui::BoxSize{s.width(), s.height()};
}

ui::BoxSize pixmapSize(const QPixmap& pixmap) {
  if (pixmap.isNull()) return {};
  const QSize s = pixmap.deviceIndependentSize().toSize();
  return ui::BoxSize{s.width(), s.height()};
}

// A plain-text label: box texts come from mail too, and must never be read
// as markup.
QLabel* makeTextLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  if (label->sizeHint().width() > kMaxTextWidth) {
    label->setWordWrap(true);
    label->resize(kMaxTextWidth, label->heightForWidth(kMaxTextWidth));
  } else {
    label->resize(label->sizeHint());
  }
  return label;
}

QLabel* makeImageLabel(const QPixmap& pixmap, QWidget* parent) {
  if (pixmap.isNull()) return nullptr;
  auto* label = new QLabel(parent);
  label->setPixmap(pixmap);
  return label;
}

ui::BoxSize buttonSize(const std::vector<QPushButton*>& buttons) {
  QSize size(kMinButtonWidth, 0);
  for (const QPushButton* b : buttons)
    size = size.expandedTo(b->sizeHint());
  return sizeOf(size);
}

}  // namespace

QPixmap boxPixmap(ui::BoxIcon icon, const std::string& picture) {
  QStyle* style = QApplication::style();
  const int size = style->pixelMetric(QStyle::PM_MessageBoxIconSize);
  QStyle::StandardPixmap which = QStyle::SP_CustomBase;
  switch (icon) {
    case ui::BoxIcon::Stop:
      which = QStyle::SP_MessageBoxCritical;
      break;
    case ui::BoxIcon::Question:
      which = QStyle::SP_MessageBoxQuestion;
      break;
    case ui::BoxIcon::Exclamation:
      which = QStyle::SP_MessageBoxWarning;
      break;
    case ui::BoxIcon::Information:
      which = QStyle::SP_MessageBoxInformation;
      break;
    case ui::BoxIcon::None:
      break;
  }
  if (which != QStyle::SP_CustomBase) return style->standardIcon(which).pixmap(size, size);
  if (picture.empty()) return {};
  return QPixmap(qtText(picture));
}

Qt::WindowFlags boxWindowFlags(bool stayOnTop) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (stayOnTop) flags |= Qt::WindowStaysOnTopHint;
  return flags;
}

// ---------------------------------------------------------------------------

MessageBoxDialog::MessageBoxDialog(const ui::MessageBoxSpec& spec, QWidget* parent)
    : QDialog(parent, boxWindowFlags(spec.stayOnTop)), spec_(spec) {
  setObjectName(QStringLiteral("KelvrinMessageBox"));
  setWindowTitle(qtText(spec.caption));
  setModal(true);

  auto* frame = new QFrame(this);
  frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);

  const QPixmap pixmap = boxPixmap(spec.icon, spec.picture);
  image_ = makeImageLabel(pixmap, this);
  text_ = makeTextLabel(qtText(spec.text), this);

  for (std::size_t i = 0; i < spec.buttons.size(); ++i) {
    const ui::BoxButton& b = spec.buttons[i];
    auto* button = new QPushButton(qtText(b.caption), this);
    if (!b.glyph.empty()) {
      const QPixmap glyph(qtText(b.glyph));
      if (!glyph.isNull()) button->setIcon(glyph);
    }
    connect(button, &QPushButton::clicked, this, [this, i] { press(i); });
    buttons_.push_back(button);
  }

  const ui::MessageBoxLayout layout = ui::layoutMessageBox(ui::MessageBoxMetrics{
      pixmapSize(pixmap), sizeOf(text_->size()), buttonSize(buttons_), spec.rows});
  if (image_) image_->setGeometry(toQRect(layout.image));
  text_->setGeometry(toQRect(layout.text));
  for (std::size_t i = 0; i < buttons_.size() && i < layout.buttons.size(); ++i) {
    buttons_[i]->setGeometry(toQRect(layout.buttons[i]));
  }
  frame->setGeometry(toQRect(layout.frame));
  frame->lower();
  setFixedSize(layout.client.width, layout.client.height);

  if (spec.defaultButton < buttons_.size()) {
    QPushButton* focused = buttons_[spec.defaultButton];
    focused->setDefault(true);
    focused->setFocus(Qt::OtherFocusReason);
  }
}

void MessageBoxDialog::press(std::size_t index) {
  result_ = spec_.buttons.at(index).result;
  done(result_);
}

void MessageBoxDialog::reject() {
  if (spec_.escapeButton) press(*spec_.escapeButton);
}

void MessageBoxDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  reject();
}

// ---------------------------------------------------------------------------

InputBoxDialog::InputBoxDialog(const ui::InputDialogSpec& spec, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          (spec.stayOnTop ? Qt::WindowStaysOnTopHint : Qt::WindowFlags())) {
  setObjectName(QStringLiteral("KelvrinInputDialog"));
  setWindowTitle(qtText(spec.caption));
  setModal(true);

  const QPixmap pixmap = boxPixmap(spec.icon, spec.picture);
  QLabel* image = makeImageLabel(pixmap, this);

  ui::InputDialogMetrics metrics;
  metrics.image = pixmapSize(pixmap);
  metrics.editWidth = spec.editWidth;
  std::vector<QLabel*> prompts;
  for (const ui::InputField& field : spec.fields) {
    QLabel* prompt = makeTextLabel(qtText(field.prompt), this);
    prompts.push_back(prompt);
    metrics.prompts.push_back(sizeOf(prompt->size()));
    auto* edit = new QLineEdit(qtText(field.value), this);
    if (spec.maxLength > 0) edit->setMaxLength(static_cast<int>(spec.maxLength));
    if (spec.passwordChar != '\0') edit->setEchoMode(QLineEdit::Password);
    if (spec.toolTipEditColor) {
      QPalette palette = edit->palette();
      palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
      palette.setColor(QPalette::Text, palette.color(QPalette::ToolTipText));
      edit->setPalette(palette);
    }
    prompt->setBuddy(edit);
    metrics.editHeight = std::max(metrics.editHeight, edit->sizeHint().height());
    edits_.push_back(edit);
  }
  for (const ui::InputCheckBox& c : spec.checkBoxes) {
    auto* check = new QCheckBox(qtText(c.caption), this);
    check->setChecked(c.checked);
    check->resize(check->sizeHint());
    metrics.checkBoxes.push_back(sizeOf(check->size()));
    checks_.push_back(check);
  }
  ok_ = new QPushButton(qtText(ui::kCaptionOk), this);
  cancel_ = new QPushButton(qtText(ui::kCaptionCancel), this);
  metrics.button = buttonSize({ok_, cancel_});

  const ui::InputDialogLayout layout = ui::layoutInputDialog(metrics);
  if (image) image->setGeometry(toQRect(layout.image));
  for (std::size_t i = 0; i < edits_.size(); ++i) {
    prompts[i]->setGeometry(toQRect(layout.prompts[i]));
    edits_[i]->setGeometry(toQRect(layout.edits[i]));
  }
  for (std::size_t i = 0; i < checks_.size(); ++i) {
    checks_[i]->setGeometry(toQRect(layout.checkBoxes[i]));
  }
  ok_->setGeometry(toQRect(layout.ok));
  cancel_->setGeometry(toQRect(layout.cancel));
  setFixedSize(layout.client.width, layout.client.height);

  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  if (!edits_.empty()) {
    edits_.front()->setFocus(Qt::OtherFocusReason);
    edits_.front()->selectAll();
  }
}

std::string InputBoxDialog::answer() const {
  if (result() != QDialog::Accepted) return ui::kInputCancelled;
  std::vector<std::string> texts;
  for (const QLineEdit* e : edits_)
    texts.push_back(coreText(e->text()));
  std::vector<bool> checks;
  for (const QCheckBox* c : checks_)
    checks.push_back(c->isChecked());
  return ui::encodeInputValue(texts, checks);
}

// ---------------------------------------------------------------------------

ProgressBoxWindow::ProgressBoxWindow(const ui::ProgressBoxSpec& spec, QWidget* parent)
    : QDialog(parent, boxWindowFlags(spec.stayOnTop)) {
  setObjectName(QStringLiteral("KelvrinProgressBox"));
  setWindowTitle(qtText(spec.caption));
  setModal(false);

  const QPixmap pixmap = boxPixmap(ui::BoxIcon::None, spec.picture);
  QLabel* image = makeImageLabel(pixmap, this);
  QLabel* text = makeTextLabel(qtText(spec.text), this);

  ui::ProgressBoxMetrics metrics;
  metrics.image = pixmapSize(pixmap);
  metrics.text = sizeOf(text->size());
  metrics.gauge = spec.gauge;
  metrics.cancelButton = spec.cancelButton;
  metrics.width = spec.width;
  metrics.height = spec.height;
  if (spec.gauge) {
    gauge_ = new QProgressBar(this);
    gauge_->setRange(spec.min, spec.max);
    gauge_->setValue(spec.min);
    gauge_->setTextVisible(false);
  }
  if (spec.cancelButton) {
    cancel_ = new QPushButton(qtText(spec.cancelCaption), this);
    metrics.button = buttonSize({cancel_});
    connect(cancel_, &QPushButton::clicked, this, &ProgressBoxWindow::cancelPressed);
  }

  const ui::ProgressBoxLayout layout = ui::layoutProgressBox(metrics);
  if (image) image->setGeometry(toQRect(layout.image));
  text->setGeometry(toQRect(layout.text));
  if (gauge_) gauge_->setGeometry(toQRect(layout.gauge));
  if (cancel_) {
    cancel_->setGeometry(toQRect(layout.cancel));
    cancel_->setDefault(true);
  }
  setFixedSize(layout.client.width, layout.client.height);
}

void ProgressBoxWindow::setPosition(int position) {
  if (gauge_) gauge_->setValue(position);
}

void ProgressBoxWindow::reject() {
  if (cancel_) emit cancelPressed();
}

void ProgressBoxWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  reject();
}

}  // namespace kelvrin::gui
