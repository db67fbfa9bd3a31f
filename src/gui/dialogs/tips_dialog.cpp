#include "gui/dialogs/tips_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

namespace {

QLabel* plainLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QFont scaledBold(QFont font, double factor) {
  font.setBold(true);
  if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() * factor);
  return font;
}

}  // namespace

TipsDialog::TipsDialog(const ui::TipsDialogSpec& spec, ui::TipPicker pick, QWidget* parent)
    : QDialog(parent), sequence_(spec.tips, std::move(pick)) {
  setObjectName(QStringLiteral("KelvrinTips"));
  setWindowTitle(qtText(spec.caption));

  auto* header = plainLabel(qtText(spec.header), this);
  header->setFont(scaledBold(font(), 1.6));

  auto* panel = new QFrame(this);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAutoFillBackground(true);
  QPalette palette = panel->palette();
  const std::uint32_t rgb = spec.background;
  palette.setColor(QPalette::Window, QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
  palette.setColor(QPalette::WindowText, Qt::black);
  panel->setPalette(palette);

  auto* picture = new QLabel(panel);
  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
  picture->setPixmap(
      style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(iconSize, iconSize));
  picture->setAlignment(Qt::AlignTop);
  auto* tipHelp = plainLabel(qtText(spec.tipHelp), panel);
  tipHelp->setFont(scaledBold(font(), 1.0));
  tipText_ = plainLabel(QString(), panel);
  tipText_->setWordWrap(true);
  tipText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  tipText_->setMinimumSize(360, 90);

  auto* tipColumn = new QVBoxLayout;
  tipColumn->addWidget(tipHelp);
  tipColumn->addWidget(tipText_, 1);
  auto* panelLayout = new QHBoxLayout(panel);
  panelLayout->addWidget(picture);
  panelLayout->addLayout(tipColumn, 1);

  showAtStart_ = new QCheckBox(qtText(spec.showAtStartCaption), this);
  showAtStart_->setChecked(spec.showAtStartChecked);
  back_ = new QPushButton(qtText(spec.backCaption), this);
  next_ = new QPushButton(qtText(spec.nextCaption), this);
  close_ = new QPushButton(qtText(spec.closeCaption), this);
  close_->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(showAtStart_, 1);
  buttons->addWidget(back_);
  buttons->addWidget(next_);
  buttons->addWidget(close_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(header);
  layout->addWidget(panel, 1);
  layout->addLayout(buttons);

  connect(next_, &QPushButton::clicked, this, [this] {
    sequence_.Next();
    showTip();
  });
  connect(back_, &QPushButton::clicked, this, [this] {
    sequence_.Back();
    showTip();
  });
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  showTip();
}

void TipsDialog::showTip() {
  tipText_->setText(qtText(sequence_.current()));
  next_->setEnabled(sequence_.canNext());
  back_->setEnabled(sequence_.canBack());
}

ui::TipsDialogResult TipsDialog::outcome() const {
  return ui::TipsDialogResult{result() == QDialog::Accepted, showAtStart_->isChecked()};
}

ui::TipsDialogResult TipsDialog::run(const ui::TipsDialogSpec& spec, QWidget* parent) {
  TipsDialog dialog(spec, ui::clockSeededTipPicker(), parent);
  // Centred on the screen rather than on the window.
  dialog.adjustSize();
  if (QScreen* screen = dialog.screen()) {
    const QRect area = screen->availableGeometry();
    dialog.move(area.center() - QPoint(dialog.width() / 2, dialog.height() / 2));
  }
  dialog.exec();
  return dialog.outcome();
}

void TipsDialog::install(ui::TTips& tips, QWidget* parent) {
  QPointer<QWidget> owner(parent);
  tips.showDialog = [owner](const ui::TipsDialogSpec& spec) { return run(spec, owner.data()); };
}

}  // namespace kelvrin::gui
