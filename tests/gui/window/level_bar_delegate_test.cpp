// The Spam% cell's bar as pixels: rendered into an image, every pixel column
// of the bar has the colour the core's level bar gives it, the bar ends where
// the core says, and a level above 10 is clamped in its row by the paint.

#include "gui/window/level_bar_delegate.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include "app/level_bar.h"
#include "gui/window/core_fixture.h"

using kelvrin::gui::LevelBarDelegate;
using kelvrin::test::CoreFixture;
namespace app = kelvrin::app;

class LevelBarDelegateTest : public QObject {
  Q_OBJECT

 private slots:
  void pixelColumnsAreTheCoresColours_data() {
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("cellWidth");
    QTest::addColumn<int>("expectedLevel");
    QTest::newRow("level 0, wide cell: one hundredth") << 0 << 440 << 0;
    QTest::newRow("level 5") << 5 << 200 << 5;
    QTest::newRow("level 10 fills the inside") << 10 << 150 << 10;
    QTest::newRow("level 13 is clamped to 10") << 13 << 150 << 10;
    QTest::newRow("narrow cell: no bar") << 9 << 44 << 9;
  }

  void pixelColumnsAreTheCoresColours() {
    QFETCH(int, level);
    QFETCH(int, cellWidth);
    QFETCH(int, expectedLevel);
    CoreFixture core(0);
    auto& view = core.kv->VTree1;
    view.setRootNodeCount(1);
    view.Row(0).Node.SpamLevel = level;
    LevelBarDelegate delegate(*core.kv);

    const int height = 18;
    QImage image(cellWidth + 10, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      delegate.paintBar(&painter, QRect(0, 0, cellWidth, height), 0);
    }
    QCOMPARE(view.Row(0).Node.SpamLevel, expectedLevel);

    const app::LevelBar bar = app::levelBar(expectedLevel, cellWidth);
    const int y = height / 2;
    for (int x = 0; x < bar.BarWidth; ++x) {
      const std::uint32_t c = bar.Colours[static_cast<std::size_t>(x)];
      const QColor expected(app::redOf(c), app::greenOf(c), app::blueOf(c));
      QCOMPARE(image.pixelColor(bar.InnerLeft + x, y), expected);
    }
    // Behind the bar the inside of the frame stays as it was.
    if (bar.BarWidth < bar.InnerWidth) {
      QCOMPARE(image.pixelColor(bar.InnerLeft + bar.BarWidth, y), QColor(Qt::white));
    }
    // The check box's place is left alone.
    for (int x = 0; x < app::kLevelBarCheckBoxSpace; ++x)
      QCOMPARE(image.pixelColor(x, y), QColor(Qt::white));
    if (expectedLevel == 10 && bar.InnerWidth > 0) QCOMPARE(bar.BarWidth, bar.InnerWidth);
    if (expectedLevel == 0)
      QCOMPARE(bar.BarWidth, (cellWidth - app::kLevelBarCheckBoxSpace + 50) / 100);
  }
};

QTEST_MAIN(LevelBarDelegateTest)
#include "level_bar_delegate_test.moc"
