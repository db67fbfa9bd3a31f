#include "gui/dialogs/help_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace kelvrin::gui {

namespace {

QPointer<HelpWindow>& theWindow() {
  static QPointer<HelpWindow> window;
  return window;
}

bool hasIndex(const QString& dir) {
  return !dir.isEmpty() && QFileInfo::exists(QDir(dir).filePath(QStringLiteral("index.html")));
}

}  // namespace

QString HelpWindow::helpDirectory() {
  const QString fromEnvironment = qEnvironmentVariable("KELVRIN_HELP_DIR");
  if (hasIndex(fromEnvironment)) return fromEnvironment;
  // Next to an installed program (prefix/bin and prefix/share/kelvrin/help),
  // then where it was installed to, then the source tree for a build.
  const QString besideProgram = QDir(QCoreApplication::applicationDirPath())
                                    .filePath(QStringLiteral("../share/kelvrin/help"));
  for (const QString& dir : {besideProgram, QStringLiteral(KELVRIN_INSTALLED_HELP_DIR),
                             QStringLiteral(KELVRIN_SOURCE_HELP_DIR)}) {
    if (hasIndex(dir)) return QDir(dir).canonicalPath();
  }
  return QString();
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("KelvrinHelp"));
  setWindowTitle(tr("Kelvrin Help"));
  setAttribute(Qt::WA_DeleteOnClose);

  browser_ = new QTextBrowser(this);
  browser_->setOpenLinks(true);
  browser_->setOpenExternalLinks(true);
  const QString dir = helpDirectory();
  if (!dir.isEmpty()) browser_->setSearchPaths({dir});

  auto* contents = new QPushButton(tr("&Contents"), this);
  auto* back = new QPushButton(tr("&Back"), this);
  auto* close = new QPushButton(tr("&Close"), this);
  back->setEnabled(false);
  connect(contents, &QPushButton::clicked, this, [this] { openTopic(QStringLiteral("index")); });
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  connect(close, &QPushButton::clicked, this, &QWidget::close);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(contents);
  buttons->addWidget(back);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_, 1);
  layout->addLayout(buttons);
  resize(640, 560);
}

void HelpWindow::openTopic(const QString& topic) {
  QString page = topic;
  QString anchor;
  if (const qsizetype hash = page.indexOf(QLatin1Char('#')); hash >= 0) {
    anchor = page.mid(hash + 1);
    page.truncate(hash);
  }
  const QString dir = helpDirectory();
  if (dir.isEmpty()) {
    browser_->setPlainText(
        tr("The help pages were not found. Set KELVRIN_HELP_DIR to the folder "
           "that holds index.html."));
    return;
  }
  // Only page names: a topic never reaches outside the help folder.
  const bool plainName = !page.isEmpty() && !page.contains(QLatin1Char('/')) &&
                         !page.contains(QLatin1Char('\\')) && !page.startsWith(QLatin1Char('.'));
  QString file = QDir(dir).filePath(page + QStringLiteral(".html"));
  if (!plainName || !QFileInfo::exists(file)) {
    file = QDir(dir).filePath(QStringLiteral("index.html"));
    anchor.clear();
  }
  QUrl url = QUrl::fromLocalFile(file);
  if (!anchor.isEmpty()) url.setFragment(anchor);
  browser_->setSource(url);
}

void HelpWindow::showTopic(const QString& topic, QWidget* parent) {
  QPointer<HelpWindow>& window = theWindow();
  if (!window) window = new HelpWindow(parent);
  window->openTopic(topic);
  window->show();
  window->raise();
  window->activateWindow();
}

HelpWindow* HelpWindow::instance() {
  return theWindow().data();
}

}  // namespace kelvrin::gui
