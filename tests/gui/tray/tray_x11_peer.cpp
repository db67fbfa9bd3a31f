// A small tray program for the X11 test: shows the tray model through a
// TrayIconView and reports on stdout, one line per change, whether a tray
// is there ("available 1"), the X window of its icon ("icon 0x...") and that
// of an ordinary window it shows beside it ("window 0x..."), which a window
// manager frames but no tray takes in. It also reports what reaches it from
// the tray: "click <shift> <ctrl>", "double", "middle" and "menu". With
// --balloon it shows a balloon once its icon is in a tray, reports where it
// stands ("balloon x y width height") and a click on it ("balloonclick
// <shift> <ctrl>").

#include <QApplication>
#include <QMenu>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <QtGlobal>
#include <cstdio>

#include "gui/tray/tray_icon_view.h"
#include "notify/tray_icon.h"

namespace {

void say(const QByteArray& line) {
  std::fputs(line.constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);

  kelvrin::notify::TrayIconModel model;
  QMenu popup2;
  popup2.addAction(QStringLiteral("Exit"), &app, &QCoreApplication::quit);
  kelvrin::gui::TrayIconView view(model, &popup2);
  model.setHint("Kelvrin Valid:1\ra@b.org=Hello");
  kelvrin::notify::TrayIconDisplay(model, kelvrin::notify::kTrayNewMail, 0);
  model.setIconVisible(true);

  view.onClick = [](bool shift, bool ctrl) {
    say("click " + QByteArray::number(shift ? 1 : 0) + " " + QByteArray::number(ctrl ? 1 : 0));
  };
  view.onDoubleClick = [] { say("double"); };
  view.onMiddleClick = [] { say("middle"); };
  view.onBalloonClick = [](bool shift, bool ctrl) {
    say("balloonclick " + QByteArray::number(shift ? 1 : 0) + " " +
        QByteArray::number(ctrl ? 1 : 0));
  };
  const bool balloon = app.arguments().contains(QStringLiteral("--balloon"));
  bool balloonAsked = false;
  QRect balloonReported;
  QObject::connect(&popup2, &QMenu::aboutToShow, [] { say("menu"); });

  say("available " + QByteArray::number(view.trayAvailable() ? 1 : 0));
  QObject::connect(&view, &kelvrin::gui::TrayIconView::trayAvailableChanged, [](bool available) {
    say("available " + QByteArray::number(available ? 1 : 0));
  });

  QWidget window;
  window.setWindowTitle(QStringLiteral("Kelvrin"));
  window.resize(200, 100);
  window.show();
  say("window 0x" + QByteArray::number(static_cast<qulonglong>(window.winId()), 16));

  // The platform's icon window is a top-level widget of its own.
  WId reported = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible()) continue;
      // Without a notification service the tray's own balloon is a window;
      // it is reported by where it stands, since the platform may replace
      // its X window after showing it.
      if (qstrcmp(w->metaObject()->className(), "QBalloonTip") == 0 &&
          w->geometry() != balloonReported) {
        balloonReported = w->geometry();
        const QRect g = w->frameGeometry();
        say("balloon " + QByteArray::number(g.x()) + " " + QByteArray::number(g.y()) + " " +
            QByteArray::number(g.width()) + " " + QByteArray::number(g.height()));
      }
      if (w->objectName() != QLatin1String("QSystemTrayIconSys")) continue;
      if (balloon && !balloonAsked) {
        balloonAsked = true;
        QTimer::singleShot(500, [&model] {
          model.ShowBalloon("Kelvrin: Click=View", "Valid:1\ra@b.org=Hello",
                            kelvrin::notify::BalloonIcon::Info, 20);
        });
      }
      if (w->winId() != reported) {
        reported = w->winId();
        say("icon 0x" + QByteArray::number(static_cast<qulonglong>(reported), 16));
      }
    }
  });
  poll.start(50);
  return app.exec();
}
