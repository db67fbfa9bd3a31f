#pragma once

// The program's help: our own HTML pages (share/help), one per area, shown
// in one reusable window.

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace kelvrin::gui {

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Opens the help window (one for the whole program) at a topic: a page
  // name without ".html" ("index", "commands"), optionally with an anchor
  // ("tray#clicks"). An empty or unknown topic shows the contents page.
  static void showTopic(const QString& topic, QWidget* parent);
  // The open help window, if any.
  static HelpWindow* instance();

  // The folder the pages are read from: $KELVRIN_HELP_DIR, the installed
  // data folder, or the source tree's share/help.
  static QString helpDirectory();

  void openTopic(const QString& topic);
  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_ = nullptr;
};

}  // namespace kelvrin::gui
