#include "gui/window/body_window.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/body_display.h"
#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

QString withLineFeeds(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

BodyWindow::BodyWindow(const QString& caption, const QString& text, QWidget* parent)
    : QDialog(parent), pressed_(app::kBodyButtonOK) {
  setObjectName(QStringLiteral("BodyWindow"));
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  text_ = new QPlainTextEdit(this);
  text_->setReadOnly(true);
  text_->setPlainText(withLineFeeds(text));
  text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  layout->addWidget(text_);

  auto* row = new QHBoxLayout;
  row->addStretch(1);
  const QStringList captions = qtText(app::kBodyButtons).split(QLatin1Char('|'));
  for (int i = 0; i < captions.size(); ++i) {
    auto* button = new QPushButton(captions[i], this);
    const int result = app::kBodyButtonOK + i;
    connect(button, &QPushButton::clicked, this, [this, result] {
      pressed_ = result;
      done(result);
    });
    buttons_.push_back(button);
    row->addWidget(button);
  }
  if (!buttons_.empty()) {
    buttons_.front()->setDefault(true);
    buttons_.front()->setFocus();
  }
  layout->addLayout(row);
  resize(720, 520);
}

void BodyWindow::reject() {
  pressed_ = app::kBodyButtonOK;
  done(app::kBodyButtonOK);
}

int BodyWindow::run(const QString& caption, const QString& text, QWidget* parent) {
  BodyWindow window(caption, text, parent);
  window.exec();
  return window.pressed();
}

}  // namespace kelvrin::gui
