// The tray icon view over the core's tray model, on the offscreen platform
// (which has no tray): the pictures of each state, the cycling, the hint,
// the clicks, the balloons and the window-only fallback.

#include "gui/tray/tray_icon_view.h"

#include <QImage>
#include <QPainter>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include "gui/tray/tray_pictures.h"
#include "notify/tray_icon.h"

namespace gui = kelvrin::gui;
namespace notify = kelvrin::notify;

namespace {

QImage drawn(int state, int index, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  gui::drawTrayPicture(p, QRectF(0, 0, size, size), state, index);
  return image;
}

int paintedPixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x)
      n += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
  }
  return n;
}

}  // namespace

class TrayIconViewTest : public QObject {
  Q_OBJECT

 private slots:
  void eachStateCyclesItsPicturesAtItsInterval_data();
  void eachStateCyclesItsPicturesAtItsInterval();
  void everyPictureIsDrawnAndTheFramesOfAStateDiffer();
  void picturesAreDrawnAtTheSizeAsked();
  void theCycleTimerAdvancesTheModel();
  void aStillPictureStaysStill();
  void frequentHintChangesDoNotHoldTheCycle();
  void theTooltipIsTheHintAsDisplayText_data();
  void theTooltipIsTheHintAsDisplayText();
  void withoutATrayTheIconWaitsAndShowsOnceOneAppears();
  void clicksReachTheirHandlers_data();
  void clicksReachTheirHandlers();
  void balloonsGoToTheNotificationServiceOncePerShow();
  void theViewLetsGoOfTheModel();
};

void TrayIconViewTest::eachStateCyclesItsPicturesAtItsInterval_data() {
  QTest::addColumn<int>("state");
  QTest::addColumn<int>("picture");  // TrayIconDisplay's second argument
  QTest::addColumn<int>("pictures");
  QTest::addColumn<bool>("cycles");
  QTest::addColumn<int>("interval");
  QTest::addColumn<int>("firstShown");
  QTest::newRow("0 idle, online") << 0 << 0 << 3 << false << 0 << 0;
  QTest::newRow("0 idle, offline") << 0 << 1 << 3 << false << 0 << 1;
  QTest::newRow("0 idle, timed checks off") << 0 << 2 << 3 << false << 0 << 2;
  QTest::newRow("1 checking") << 1 << 0 << 32 << true << 150 << 0;
  QTest::newRow("2 new valid mail") << 2 << 0 << 2 << true << 800 << 0;
  QTest::newRow("3 suspect") << 3 << 0 << 2 << true << 800 << 0;
  QTest::newRow("4 suspect and spam") << 4 << 0 << 3 << true << 800 << 0;
  QTest::newRow("5 spam only") << 5 << 0 << 2 << true << 800 << 0;
  QTest::newRow("6 dialling") << 6 << 0 << 2 << true << 150 << 0;
  QTest::newRow("7 countdown, first") << 7 << 1 << 4 << false << 0 << 0;
  QTest::newRow("7 countdown, beyond the last") << 7 << 6 << 4 << false << 0 << 3;
  QTest::newRow("8 deleting") << 8 << 0 << 5 << true << 250 << 0;
}

void TrayIconViewTest::eachStateCyclesItsPicturesAtItsInterval() {
  QFETCH(int, state);
  QFETCH(int, picture);
  QFETCH(int, pictures);
  QFETCH(bool, cycles);
  QFETCH(int, interval);
  QFETCH(int, firstShown);

  notify::TrayIconModel model;
  gui::TrayIconView view(model, nullptr);
  model.setIconVisible(true);
  notify::TrayIconDisplay(model, static_cast<std::uint16_t>(state),
                          static_cast<std::uint16_t>(picture));

  QCOMPARE(gui::TrayPictures::count(state), pictures);
  QCOMPARE(view.shownList(), state);
  QCOMPARE(view.shownIndex(), firstShown);
  QCOMPARE(view.trayIcon()->icon().cacheKey(), view.pictures().icon(state, firstShown).cacheKey());
  QCOMPARE(view.cycling(), cycles);
  if (!cycles) return;
  QCOMPARE(view.cycleInterval(), interval);

  // One step per tick through every picture, then round to the first.
  QList<int> seen{view.shownIndex()};
  QSet<qint64> icons{view.trayIcon()->icon().cacheKey()};
  for (int i = 0; i < pictures; ++i) {
    view.cycleTick();
    seen << view.shownIndex();
    icons << view.trayIcon()->icon().cacheKey();
  }
  QList<int> expected;
  for (int i = 0; i < pictures; ++i)
    expected << i;
  expected << 0;
  QCOMPARE(seen, expected);
  QCOMPARE(icons.size(), pictures);
  QCOMPARE(model.IconIndex(), 0);
}

void TrayIconViewTest::everyPictureIsDrawnAndTheFramesOfAStateDiffer() {
  QSet<QByteArray> firstPictures;
  for (int s = 0; s < gui::TrayPictures::stateCount(); ++s) {
    const int size = gui::TrayPictures::designSize(s);
    QCOMPARE(size, s == 7 ? 32 : 16);
    QList<QImage> frames;
    for (int i = 0; i < gui::TrayPictures::count(s); ++i) {
      const QImage image = drawn(s, i, size);
      // Drawn, and not a blot filling the whole square either.
      const int painted = paintedPixels(image);
      QVERIFY2(painted > size * size / 5, qPrintable(QString("state %1 picture %2").arg(s).arg(i)));
      QVERIFY2(painted < size * size, qPrintable(QString("state %1 picture %2").arg(s).arg(i)));
      for (const QImage& other : frames)
        QVERIFY2(other != image, qPrintable(QString("state %1 picture %2 repeats").arg(s).arg(i)));
      frames << image;
    }
    const QImage first = drawn(s, 0, 16);
    firstPictures << QByteArray(reinterpret_cast<const char*>(first.constBits()),
                                static_cast<int>(first.sizeInBytes()));
  }
  // Each state looks like itself.
  QCOMPARE(firstPictures.size(), gui::TrayPictures::stateCount());
  // Outside the lists nothing is drawn.
  QCOMPARE(paintedPixels(drawn(9, 0, 16)), 0);
  QCOMPARE(paintedPixels(drawn(2, 2, 16)), 0);
}

void TrayIconViewTest::picturesAreDrawnAtTheSizeAsked() {
  gui::TrayPictures pictures;
  const QIcon& icon = pictures.icon(2, 0);
  const QList<QSize> sizes = icon.availableSizes();
  QVERIFY(sizes.contains(QSize(16, 16)));
  QVERIFY(sizes.contains(QSize(22, 22)));
  QVERIFY(sizes.contains(QSize(32, 32)));
  for (int size : {16, 22, 37, 64, 128}) {
    const QPixmap pixmap = icon.pixmap(QSize(size, size), 1.0);
    QCOMPARE(pixmap.size(), QSize(size, size));
    // Drawn at that size, not scaled from another one.
    QCOMPARE(pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
             drawn(2, 0, size));
  }
  // An index beyond the last gives the last picture.
  QCOMPARE(pictures.icon(8, 99).cacheKey(), pictures.icon(8, 4).cacheKey());
  QVERIFY(pictures.icon(12, 0).isNull());
}

void TrayIconViewTest::theCycleTimerAdvancesTheModel() {
  notify::TrayIconModel model;
  gui::TrayIconView view(model, nullptr);
  notify::TrayIconDisplay(model, notify::kTrayChecking, 0);
  QTRY_VERIFY_WITH_TIMEOUT(model.IconIndex() >= 2, 10000);
  QCOMPARE(view.shownIndex(), model.IconIndex());

  // Back to idle: the cycle stops on the idle picture.
  notify::TrayIconDisplay(model, notify::kTrayIdle, notify::kIdleOffline);
  QVERIFY(!view.cycling());
  QCOMPARE(view.shownList(), 0);
  QCOMPARE(view.shownIndex(), 1);
}

void TrayIconViewTest::aStillPictureStaysStill() {
  notify::TrayIconModel model;
  gui::TrayIconView view(model, nullptr);
  notify::TrayIconDisplay(model, notify::kTrayCountdown, 3);
  const qint64 key = view.trayIcon()->icon().cacheKey();
  view.cycleTick();
  view.cycleTick();
  QCOMPARE(view.shownIndex(), 2);
  QCOMPARE(view.trayIcon()->icon().cacheKey(), key);
}

void TrayIconViewTest::frequentHintChangesDoNotHoldTheCycle() {
  // During a check the status, and with it the hint, may change faster than
  // the 150 ms picture interval; the pictures must go on turning.
  notify::TrayIconModel model;
  gui::TrayIconView view(model, nullptr);
  notify::TrayIconDisplay(model, notify::kTrayChecking, 0);
  int advances = 0;
  int last = model.IconIndex();
  for (int i = 0; i < 100 && advances < 3; ++i) {
    model.setHint("Kelvrin Status: Message #" + std::to_string(i));
    QTest::qWait(20);
    if (model.IconIndex() != last) {
      ++advances;
      last = model.IconIndex();
    }
  }
  QVERIFY2(advances >= 3, "the cycle stood still while the hint changed");
}

void TrayIconViewTest::theTooltipIsTheHintAsDisplayText_data() {
  QTest::addColumn<QByteArray>("hint");
  QTest::addColumn<QString>("tooltip");
  QTest::newRow("CR breaks lines") << QByteArray("Kelvrin Valid:2\ra@b.org=Hello\rc@d.org=Hi")
                                   << QStringLiteral("Kelvrin Valid:2\na@b.org=Hello\nc@d.org=Hi");
  QTest::newRow("CR LF and LF too")
      << QByteArray("one\r\ntwo\nthree") << QStringLiteral("one\ntwo\nthree");
  QTest::newRow("an empty line stays")
      << QByteArray("title\r\rcounts") << QStringLiteral("title\n\ncounts");
  QTest::newRow("UTF-8 subject") << QByteArray("x@y=\xc3\xa9t\xc3\xa9")
                                 << QString::fromUtf8("x@y=\xc3\xa9t\xc3\xa9");
  QTest::newRow("8-bit subject that is not UTF-8")
      << QByteArray("x@y=\xe9t\xe9") << QString::fromUtf8("x@y=\xc3\xa9t\xc3\xa9");
  QTest::newRow("encoded word after a blank")
      << QByteArray("x@y= =?UTF-8?B?w6l0w6k=?=") << QString::fromUtf8("x@y= \xc3\xa9t\xc3\xa9");
  QTest::newRow("no markup") << QByteArray("<b>x</b>") << QStringLiteral("<b>x</b>");
}

void TrayIconViewTest::theTooltipIsTheHintAsDisplayText() {
  QFETCH(QByteArray, hint);
  QFETCH(QString, tooltip);
  notify::TrayIconModel model;
  gui::TrayIconView view(model, nullptr);
  model.setHint(hint.toStdString());
  QCOMPARE(view.trayIcon()->toolTip(), tooltip);
}

void TrayIconViewTest::withoutATrayTheIconWaitsAndShowsOnceOneAppears() {
  QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());  // offscreen has none
  notify::TrayIconModel model;
  gui::TrayIconView view(model, nullptr);
  QSignalSpy spy(&view, &gui::TrayIconView::trayAvailableChanged);
  model.setIconVisible(true);
  QVERIFY(!view.trayAvailable());
  QVERIFY(!view.trayIcon()->isVisible());

  bool tray = false;
  view.setTrayProbe([&] { return tray; });
  QCOMPARE(spy.count(), 0);
  tray = true;  // a panel starts
  QTRY_VERIFY_WITH_TIMEOUT(view.trayAvailable(), 10000);
  QVERIFY(view.trayIcon()->isVisible());
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0).at(0).toBool(), true);

  // The icon follows the model while the tray is there.
  model.setIconVisible(false);
  QVERIFY(!view.trayIcon()->isVisible());
  model.setIconVisible(true);
  QVERIFY(view.trayIcon()->isVisible());

  tray = false;  // the panel goes
  QVERIFY(!view.recheckTray());
  QVERIFY(!view.trayIcon()->isVisible());
  QCOMPARE(spy.count(), 2);
  QCOMPARE(spy.at(1).at(0).toBool(), false);
}

void TrayIconViewTest::clicksReachTheirHandlers_data() {
  QTest::addColumn<int>("reason");
  QTest::addColumn<QString>("expected");
  QTest::newRow("activate") << int(QSystemTrayIcon::Trigger) << "click";
  QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << "double";
  QTest::newRow("secondary activate") << int(QSystemTrayIcon::MiddleClick) << "middle";
  QTest::newRow("context menu") << int(QSystemTrayIcon::Context) << "";
  QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << "";
}

void TrayIconViewTest::clicksReachTheirHandlers() {
  QFETCH(int, reason);
  QFETCH(QString, expected);
  notify::TrayIconModel model;
  {
    // Without handlers a click does nothing, and nothing breaks.
    gui::TrayIconView bare(model, nullptr);
    emit bare.trayIcon()->activated(static_cast<QSystemTrayIcon::ActivationReason>(reason));
    emit bare.trayIcon()->messageClicked();
  }
  gui::TrayIconView view(model, nullptr);
  QStringList calls;
  view.onClick = [&](bool shift, bool ctrl) {
    calls << "click";
    QVERIFY(!shift && !ctrl);  // no keys held in the test
  };
  view.onDoubleClick = [&] { calls << "double"; };
  view.onMiddleClick = [&] { calls << "middle"; };
  view.onBalloonClick = [&](bool, bool) { calls << "balloon"; };
  emit view.trayIcon()->activated(static_cast<QSystemTrayIcon::ActivationReason>(reason));
  QCOMPARE(calls, expected.isEmpty() ? QStringList{} : QStringList{expected});
  emit view.trayIcon()->messageClicked();
  QCOMPARE(calls.last(), QStringLiteral("balloon"));
}

void TrayIconViewTest::balloonsGoToTheNotificationServiceOncePerShow() {
  notify::TrayIconModel model;
  model.ShowBalloon("old", "shown before the window", notify::BalloonIcon::Info, 5);
  gui::TrayIconView view(model, nullptr);
  struct Shown {
    QString title;
    QString text;
    notify::BalloonIcon kind;
    int secs;
  };
  std::vector<Shown> shown;
  view.showNotification = [&](const QString& title, const QString& text, notify::BalloonIcon kind,
                              int secs) {
    shown.push_back({title, text, kind, secs});
    return true;
  };
  model.setHint("unrelated");
  QVERIFY(shown.empty());

  model.ShowBalloon("Kelvrin: Click=View, Click+[Ctrl]=Delete all", "Valid:2\ra@b.org=Hi",
                    notify::BalloonIcon::Info, 20);
  QCOMPARE(shown.size(), std::size_t{1});
  QCOMPARE(shown[0].title, QStringLiteral("Kelvrin: Click=View, Click+[Ctrl]=Delete all"));
  QCOMPARE(shown[0].text, QStringLiteral("Valid:2\na@b.org=Hi"));
  QCOMPARE(shown[0].kind, notify::BalloonIcon::Info);
  QCOMPARE(shown[0].secs, 20);

  model.setHint("another");
  QCOMPARE(shown.size(), std::size_t{1});
  // A repeat shows the last balloon again.
  model.ShowBalloon("", "", notify::BalloonIcon::None, 0, true);
  QCOMPARE(shown.size(), std::size_t{2});
  QCOMPARE(shown[1].text, shown[0].text);
  // A hidden balloon is not shown again.
  model.HideBalloon();
  QCOMPARE(shown.size(), std::size_t{2});
}

void TrayIconViewTest::theViewLetsGoOfTheModel() {
  notify::TrayIconModel model;
  {
    gui::TrayIconView view(model, nullptr);
    QCOMPARE(model.changed().size(), std::size_t{1});
  }
  QCOMPARE(model.changed().size(), std::size_t{0});
  model.setHint("after the view");  // would reach a dead view otherwise
  notify::TrayIconDisplay(model, notify::kTrayChecking, 0);
}

QTEST_MAIN(TrayIconViewTest)
#include "tray_icon_view_test.moc"
