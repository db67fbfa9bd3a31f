// The message box, the input dialog and the progress box as real dialogs,
// driven by keys and clicks while they run.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <map>

#include "gui/dialogs/box_dialogs.h"
#include "gui/dialogs/dialog_driver.h"
#include "gui/dialogs/qt_prompter.h"
#include "ui/box_layout.h"

using kelvrin::test::ModalDriver;
namespace gui = kelvrin::gui;
namespace ui = kelvrin::ui;

namespace {

constexpr int kEnter = -1;  // press the default button with Enter
constexpr int kEsc = -2;    // press Esc

QStringList captions(const gui::MessageBoxDialog* box) {
  QStringList out;
  for (const QPushButton* b : box->buttons())
    out << b->text();
  return out;
}

// Buttons per row, read from where the buttons stand.
std::vector<std::size_t> rowsOf(const gui::MessageBoxDialog* box) {
  std::map<int, std::size_t> byTop;
  for (const QPushButton* b : box->buttons())
    ++byTop[b->geometry().top()];
  std::vector<std::size_t> rows;
  for (const auto& [top, n] : byTop)
    rows.push_back(n);
  return rows;
}

void press(QDialog* dialog, int which) {
  auto* box = qobject_cast<gui::MessageBoxDialog*>(dialog);
  QVERIFY(box);
  if (which == kEnter) {
    QTest::keyClick(box, Qt::Key_Return);
  } else if (which == kEsc) {
    QTest::keyClick(box, Qt::Key_Escape);
  } else {
    QTest::mouseClick(box->buttons().at(static_cast<std::size_t>(which)), Qt::LeftButton);
  }
}

// Centres computed from odd and even sizes differ by a pixel's rounding.
bool near(QPoint a, QPoint b) {
  return qAbs(a.x() - b.x()) <= 2 && qAbs(a.y() - b.y()) <= 2;
}

// A prompter whose sounds are recorded instead of played.
struct Recorded {
  gui::QtPrompter prompter;
  std::vector<ui::BoxSound> sounds;
  Recorded() {
    prompter.setSoundHandler([this](const ui::BoxSound& s) { sounds.push_back(s); });
  }
};

}  // namespace

class MessageBoxDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void standardBoxes_data();
  void standardBoxes();
  void customButtonRows_data();
  void customButtonRows();
  void escPressesCancelOrNoAndNothingWhereTheUserMustChoose_data();
  void escPressesCancelOrNoAndNothingWhereTheUserMustChoose();
  void flagsWithoutAButtonSetShowNothing();
  void imageAndTextPlacement();
  void aLongTextCentresTheFirstRowUnderIt();
  void textIsNeverMarkupAndCrBreaksLines();
  void infoBoxIsSilentAndTakesTheActiveWindowsCaption();
  void beepFollowsTheIconUnlessSilent();
  void boxesCentreOnTheActiveWindowElseOnTheDesktop();
  void stayOnTopModeGivesBoxesNoOwner();
  void msgBoxAtPlacesTheBoxWhereTheCallerSays();
  void buttonBoxDefaultGlyphsAndStayOnTop();
  void inputBoxReturnsTextAndCancelIsOneNulCharacter();
  void inputBoxAcceptsAtMost255Characters();
  void inputDialogJoinsFieldsAndCheckBoxes();
  void progressBoxCancelTellsTheOpenerAndLeavesTheBoxOpen();
  void progressBoxMayBeClosedFromItsOwnCancel();
  void progressBoxGaugeStepsWithinItsRange();
};

void MessageBoxDialogTest::standardBoxes_data() {
  QTest::addColumn<uint>("flags");
  QTest::addColumn<QStringList>("expectedCaptions");
  QTest::addColumn<int>("expectedDefault");
  QTest::addColumn<bool>("hasIcon");
  QTest::addColumn<int>("pressed");
  QTest::addColumn<int>("expectedResult");

  const QStringList ok{"&OK"};
  const QStringList okCancel{"&OK", "&Cancel"};
  const QStringList ari{"&Abort", "&Retry", "Ignore"};
  const QStringList ync{"&Yes", "&No", "&Cancel"};
  const QStringList yn{"&Yes", "&No"};
  const QStringList rc{"&Retry", "&Cancel"};
  QTest::newRow("OK, Enter") << 0u << ok << 0 << false << kEnter << 1;
  QTest::newRow("information OK/Cancel, Cancel") << 65u << okCancel << 0 << true << 1 << 2;
  QTest::newRow("Abort") << 2u << ari << 0 << false << 0 << 3;
  QTest::newRow("Retry") << 2u << ari << 0 << false << 1 << 4;
  QTest::newRow("Ignore") << 2u << ari << 0 << false << 2 << 5;
  QTest::newRow("question Yes/No, Yes") << 36u << yn << 0 << true << 0 << 6;
  QTest::newRow("second button default, Enter gives No")
      << (0x100u + 4) << yn << 1 << false << kEnter << 7;
  QTest::newRow("third button default, Enter gives Cancel")
      << (0x200u + 3) << ync << 2 << false << kEnter << 2;
  QTest::newRow("stop Retry/Cancel, Retry") << (16u + 5) << rc << 0 << true << 0 << 4;
  QTest::newRow("foreground exclamation OK") << (0x10000u + 48) << ok << 0 << true << 0 << 1;
}

void MessageBoxDialogTest::standardBoxes() {
  QFETCH(uint, flags);
  QFETCH(QStringList, expectedCaptions);
  QFETCH(int, expectedDefault);
  QFETCH(bool, hasIcon);
  QFETCH(int, pressed);
  QFETCH(int, expectedResult);

  gui::QtPrompter prompter;
  QStringList seen;
  std::vector<std::size_t> rows;
  int focused = -1;
  bool iconShown = false;
  ModalDriver driver([&](QDialog* d) {
    auto* box = qobject_cast<gui::MessageBoxDialog*>(d);
    QVERIFY(box);
    seen = captions(box);
    rows = rowsOf(box);
    for (std::size_t i = 0; i < box->buttons().size(); ++i) {
      if (box->focusWidget() == box->buttons()[i]) focused = static_cast<int>(i);
    }
    iconShown = box->imageLabel() != nullptr;
    press(d, pressed);
  });
  const int result = prompter.MsgBox("Sure?", "Kelvrin", true, flags);

  QVERIFY(driver.shown());
  QVERIFY(!driver.leftOpen());
  QCOMPARE(seen, expectedCaptions);
  // Up to three buttons stand in one row.
  QCOMPARE(rows, std::vector<std::size_t>{static_cast<std::size_t>(expectedCaptions.size())});
  QCOMPARE(focused, expectedDefault);
  QCOMPARE(iconShown, hasIcon);
  QCOMPARE(result, expectedResult);
}

void MessageBoxDialogTest::customButtonRows_data() {
  QTest::addColumn<QString>("buttons");
  QTest::addColumn<std::vector<std::size_t>>("expectedRows");
  QTest::addColumn<int>("pressed");
  QTest::addColumn<int>("expectedResult");
  using R = std::vector<std::size_t>;
  QTest::newRow("one") << "Only" << R{1} << 0 << 11;
  QTest::newRow("leading bar, two") << "|One|Two" << R{2} << 1 << 12;
  QTest::newRow("three in a row") << "&OK|&Spam|&Reply|" << R{3} << 2 << 13;
  QTest::newRow("four in rows of two") << "A|B|C|D" << R{2, 2} << 3 << 14;
  QTest::newRow("five: three and two") << "A|B|C|D|E" << R{3, 2} << 4 << 15;
  QTest::newRow("seven: three, three, one") << "A|B|C|D|E|F|G" << R{3, 3, 1} << 6 << 17;
  QTest::newRow("nine in rows of three") << "1|2|3|4|5|6|7|8|9" << R{3, 3, 3} << 8 << 19;
  QTest::newRow("ten in rows of four") << "1|2|3|4|5|6|7|8|9|10" << R{4, 4, 2} << 9 << 20;
}

void MessageBoxDialogTest::customButtonRows() {
  QFETCH(QString, buttons);
  QFETCH(std::vector<std::size_t>, expectedRows);
  QFETCH(int, pressed);
  QFETCH(int, expectedResult);

  gui::QtPrompter prompter;
  std::vector<std::size_t> rows;
  bool rowsShareTheirLeftEdge = true;
  bool gapsAreHalfAButton = true;
  ModalDriver driver([&](QDialog* d) {
    auto* box = qobject_cast<gui::MessageBoxDialog*>(d);
    QVERIFY(box);
    rows = rowsOf(box);
    const auto& b = box->buttons();
    const int firstLeft = b.front()->x();
    for (std::size_t i = 1; i < b.size(); ++i) {
      const QRect prev = b[i - 1]->geometry();
      const QRect cur = b[i]->geometry();
      if (cur.top() != prev.top()) {
        rowsShareTheirLeftEdge = rowsShareTheirLeftEdge && cur.left() == firstLeft;
        gapsAreHalfAButton =
            gapsAreHalfAButton && cur.top() - prev.bottom() - 1 == cur.height() / 2;
      } else {
        gapsAreHalfAButton =
            gapsAreHalfAButton && cur.left() - prev.right() - 1 == cur.height() / 2;
      }
    }
    press(d, pressed);
  });
  ui::ButtonBoxArgs args;
  args.text = "Which one?";
  args.caption = "Kelvrin";
  args.buttons = buttons.toStdString();
  const int result = prompter.ButtonBox(args);

  QVERIFY(driver.shown());
  QCOMPARE(rows, expectedRows);
  QVERIFY(rowsShareTheirLeftEdge);
  QVERIFY(gapsAreHalfAButton);
  QCOMPARE(result, expectedResult);
}

void MessageBoxDialogTest::escPressesCancelOrNoAndNothingWhereTheUserMustChoose_data() {
  QTest::addColumn<uint>("flags");
  QTest::addColumn<int>("expectedResult");  // 0: Esc leaves the box open
  QTest::newRow("OK") << 0u << 1;
  QTest::newRow("OK/Cancel") << 1u << 2;
  QTest::newRow("Yes/No/Cancel") << 3u << 2;
  QTest::newRow("Yes/No") << 4u << 7;
  QTest::newRow("Retry/Cancel") << 5u << 2;
  QTest::newRow("Abort/Retry/Ignore") << 2u << 0;
}

void MessageBoxDialogTest::escPressesCancelOrNoAndNothingWhereTheUserMustChoose() {
  QFETCH(uint, flags);
  QFETCH(int, expectedResult);

  gui::QtPrompter prompter;
  bool openAfterEsc = false;
  bool openAfterClose = false;
  ModalDriver driver([&](QDialog* d) {
    QTest::keyClick(d, Qt::Key_Escape);
    openAfterEsc = d->isVisible();
    if (openAfterEsc) {
      // Nor does the window's close end a box that only its buttons end.
      d->close();
      openAfterClose = d->isVisible();
      press(d, 2);  // Ignore
    }
  });
  const int result = prompter.MsgBox("Sure?", "Kelvrin", true, flags);
  QVERIFY(!driver.leftOpen());
  if (expectedResult == 0) {
    QVERIFY(openAfterEsc);
    QVERIFY(openAfterClose);
    QCOMPARE(result, ui::kIdIgnore);
  } else {
    QVERIFY(!openAfterEsc);
    QCOMPARE(result, expectedResult);
  }
}

void MessageBoxDialogTest::flagsWithoutAButtonSetShowNothing() {
  gui::QtPrompter prompter;
  ModalDriver driver([](QDialog* d) { d->done(0); });
  QCOMPARE(prompter.MsgBox("x", "Kelvrin", true, 6), 0);
  QCOMPARE(prompter.MsgBox("x", "Kelvrin", true, 0x300 + 64 + 7), 0);
  ui::ButtonBoxArgs empty;
  empty.text = "x";
  QCOMPARE(prompter.ButtonBox(empty), 0);
  QCoreApplication::processEvents();
  QVERIFY(!driver.shown());
}

void MessageBoxDialogTest::imageAndTextPlacement() {
  // The platform icon is larger than 16 pixels; the caller's 16-pixel
  // picture moves 8 pixels further in; without an image the text starts
  // 18 pixels from the left and top.
  QTemporaryDir dir;
  const QString small = dir.filePath("small.png");
  QPixmap sixteen(16, 16);
  sixteen.fill(Qt::red);
  QVERIFY(sixteen.save(small));

  struct Case {
    const char* name;
    uint flags;
    QString picture;
  };
  for (const Case& c :
       {Case{"icon", 64, {}}, Case{"small picture", 0, small}, Case{"no image", 0, QString()}}) {
    gui::QtPrompter prompter;
    QRect image;
    QRect text;
    QRect frame;
    QSize client;
    ModalDriver driver([&](QDialog* d) {
      auto* box = qobject_cast<gui::MessageBoxDialog*>(d);
      QVERIFY(box);
      if (box->imageLabel()) image = box->imageLabel()->geometry();
      text = box->textLabel()->geometry();
      client = box->size();
      for (QFrame* f : box->findChildren<QFrame*>(Qt::FindDirectChildrenOnly)) {
        if (!qobject_cast<QLabel*>(f)) frame = f->geometry();
      }
      press(d, 0);
    });
    if (c.picture.isEmpty()) {
      prompter.MsgBox("Short", "Kelvrin", true, c.flags);
    } else {
      ui::ButtonBoxArgs args;
      args.text = "Short";
      args.picture = c.picture.toStdString();
      args.buttons = "&OK";
      prompter.ButtonBox(args);
    }
    QVERIFY2(driver.shown(), c.name);
    if (QByteArray(c.name) == "no image") {
      QVERIFY2(image.isNull(), c.name);
      QCOMPARE(text.topLeft(), QPoint(18, 18));
    } else {
      const int w = image.width();
      const int h = image.height();
      QVERIFY2(w > 0, c.name);
      const int extra = (w <= 16 && h <= 16) ? 8 : 0;
      if (QByteArray(c.name) == "small picture") QCOMPARE(extra, 8);
      if (QByteArray(c.name) == "icon") QCOMPARE(extra, 0);
      QCOMPARE(image.topLeft(), QPoint(w / 2 + 2 + extra, h / 2 + 2 + extra));
      QCOMPARE(text.left(), image.left() + w + w / 2);
      // A one-line text is lower than the image and centred on it.
      QVERIFY(text.height() < h);
      QCOMPARE(text.top(), image.top() + (h - text.height()) / 2);
    }
    QCOMPARE(frame, QRect(3, 3, client.width() - 6, client.height() - 6));
  }
}

void MessageBoxDialogTest::aLongTextCentresTheFirstRowUnderIt() {
  gui::QtPrompter prompter;
  QRect text;
  QRect first;
  QRect last;
  ModalDriver driver([&](QDialog* d) {
    auto* box = qobject_cast<gui::MessageBoxDialog*>(d);
    QVERIFY(box);
    text = box->textLabel()->geometry();
    first = box->buttons().front()->geometry();
    last = box->buttons().back()->geometry();
    press(d, 0);
  });
  prompter.MsgBox("A text that is a good deal wider than the two buttons under it", "Kelvrin", true,
                  4);
  QVERIFY(driver.shown());
  const int rowCentre = (first.left() + last.right()) / 2;
  QVERIFY(qAbs(rowCentre - text.center().x()) <= 1);
  QCOMPARE(first.top() - text.bottom() - 1, first.height() / 2);
}

void MessageBoxDialogTest::textIsNeverMarkupAndCrBreaksLines() {
  gui::QtPrompter prompter;
  QString shown;
  Qt::TextFormat format = Qt::AutoText;
  ModalDriver driver([&](QDialog* d) {
    auto* box = qobject_cast<gui::MessageBoxDialog*>(d);
    QVERIFY(box);
    shown = box->textLabel()->text();
    format = box->textLabel()->textFormat();
    press(d, 0);
  });
  prompter.MsgBox("Non-spam messages!\rFrom <b>x@y</b>", "Kelvrin", true, 0);
  QCOMPARE(shown, QStringLiteral("Non-spam messages!\nFrom <b>x@y</b>"));
  QCOMPARE(format, Qt::PlainText);
}

void MessageBoxDialogTest::infoBoxIsSilentAndTakesTheActiveWindowsCaption() {
  QWidget main;
  main.setWindowTitle("Kelvrinate V1.0");
  main.resize(400, 300);
  main.show();
  main.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&main));

  Recorded r;
  r.prompter.setParentWindow(&main);
  ModalDriver driver([](QDialog* d) { press(d, kEnter); });
  QVERIFY(r.prompter.InfoBox("Saved."));
  QCOMPARE(driver.title(), QStringLiteral("Kelvrinate V1.0"));
  QVERIFY(r.sounds.empty());

  // The caller's caption wins over the active window's.
  ModalDriver second([](QDialog* d) { press(d, 0); });
  r.prompter.MsgBox("x", "Kelvrin", true, 0);
  QCOMPARE(second.title(), QStringLiteral("Kelvrin"));
}

void MessageBoxDialogTest::beepFollowsTheIconUnlessSilent() {
  struct Case {
    uint flags;
    bool silent;
    std::vector<ui::BeepKind> expected;
  };
  for (const Case& c :
       {Case{48, false, {ui::BeepKind::Exclamation}}, Case{16 + 4, false, {ui::BeepKind::Stop}},
        Case{0, false, {ui::BeepKind::Default}}, Case{48, true, {}}}) {
    Recorded r;
    ModalDriver driver([](QDialog* d) { press(d, 0); });
    r.prompter.MsgBox("x", "Kelvrin", c.silent, c.flags);
    std::vector<ui::BeepKind> kinds;
    for (const ui::BoxSound& s : r.sounds)
      kinds.push_back(s.kind);
    QCOMPARE(kinds, c.expected);
  }
  // A custom box plays the caller's sound by name.
  Recorded r;
  ModalDriver driver([](QDialog* d) { press(d, 0); });
  ui::ButtonBoxArgs args;
  args.text = "x";
  args.buttons = "&OK";
  args.sound = "MB_ICONQUESTION";
  r.prompter.ButtonBox(args);
  QCOMPARE(r.sounds.size(), std::size_t{1});
  QCOMPARE(r.sounds[0].kind, ui::BeepKind::Question);
}

void MessageBoxDialogTest::boxesCentreOnTheActiveWindowElseOnTheDesktop() {
  gui::QtPrompter prompter;
  QPoint centre;
  auto record = [&](QDialog* d) {
    centre = d->geometry().center();
    press(d, 0);
  };
  {
    ModalDriver driver(record);
    prompter.MsgBox("x", "Kelvrin", true, 0);
    QVERIFY(driver.shown());
  }
  const QPoint desktop = QGuiApplication::primaryScreen()->availableGeometry().center();
  QVERIFY2(near(centre, desktop), "without a window: the desktop's centre");

  QWidget main;
  main.setWindowTitle("Main");
  main.setGeometry(40, 60, 500, 300);
  main.show();
  main.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&main));
  prompter.setParentWindow(&main);
  {
    ModalDriver driver(record);
    prompter.MsgBox("x", "Kelvrin", true, 0);
    QVERIFY(driver.shown());
  }
  QVERIFY2(near(centre, main.frameGeometry().center()), "over the active window: its centre");
}

void MessageBoxDialogTest::stayOnTopModeGivesBoxesNoOwner() {
  QWidget main;
  main.setWindowTitle("Main");
  main.show();
  main.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&main));
  gui::QtPrompter prompter(&main);

  struct Seen {
    QWidget* parent = nullptr;
    bool onTop = false;
  };
  auto run = [&] {
    Seen seen;
    ModalDriver driver([&](QDialog* d) {
      seen.parent = d->parentWidget();
      seen.onTop = d->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
      press(d, 0);
    });
    prompter.MsgBox("x", "Kelvrin", true, 0);
    return seen;
  };
  const Seen owned = run();
  QCOMPARE(owned.parent, &main);
  QVERIFY(!owned.onTop);
  prompter.setStayOnTopMode(true);
  const Seen free = run();
  QCOMPARE(free.parent, nullptr);
  QVERIFY(free.onTop);
}

void MessageBoxDialogTest::msgBoxAtPlacesTheBoxWhereTheCallerSays() {
  // The welcome box: on the screen's centre although a window is active
  // elsewhere, unlike MsgBox, which centres on that window.
  QWidget main;
  main.setWindowTitle("Main");
  main.setGeometry(10, 20, 300, 200);
  main.show();
  main.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&main));
  gui::QtPrompter prompter(&main);
  QPoint centre;
  QString title;
  ModalDriver driver([&](QDialog* d) {
    centre = d->geometry().center();
    title = d->windowTitle();
    press(d, 0);
  });
  QCOMPARE(prompter.MsgBoxAt("Welcome", "", true, 64, ui::BoxPosition::ScreenCenter), 1);
  QVERIFY(near(centre, QGuiApplication::primaryScreen()->availableGeometry().center()));
  QVERIFY(!near(centre, main.frameGeometry().center()));
  QCOMPARE(title, QStringLiteral("Main"));
}

void MessageBoxDialogTest::buttonBoxDefaultGlyphsAndStayOnTop() {
  QTemporaryDir dir;
  const QString glyph = dir.filePath("spam.png");
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::red);
  QVERIFY(pixmap.save(glyph));

  gui::QtPrompter prompter;
  QList<bool> hasIcon;
  bool onTop = false;
  int focused = -1;
  ModalDriver driver([&](QDialog* d) {
    auto* box = qobject_cast<gui::MessageBoxDialog*>(d);
    QVERIFY(box);
    for (std::size_t i = 0; i < box->buttons().size(); ++i) {
      hasIcon << !box->buttons()[i]->icon().isNull();
      if (box->focusWidget() == box->buttons()[i]) focused = static_cast<int>(i);
    }
    onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    press(d, kEnter);
  });
  ui::ButtonBoxArgs args;
  args.text = "From: a@b.org";
  args.caption = "Kelvrin";
  args.buttons = "&OK|&Spam|&Reply|Reply&Quote";
  args.defaultButton = 2;
  args.glyphs = {"", glyph.toStdString()};
  args.stayOnTop = true;
  QCOMPARE(prompter.ButtonBox(args), 12);  // Enter pressed the default
  QCOMPARE(focused, 1);
  QCOMPARE(hasIcon, (QList<bool>{false, true, false, false}));
  QVERIFY(onTop);

  // A default beyond the buttons falls back to the first.
  args.defaultButton = 9;
  ModalDriver second([](QDialog* d) { press(d, kEnter); });
  QCOMPARE(prompter.ButtonBox(args), 11);
}

void MessageBoxDialogTest::inputBoxReturnsTextAndCancelIsOneNulCharacter() {
  gui::QtPrompter prompter;
  struct Case {
    const char* name;
    std::function<void(gui::InputBoxDialog*)> act;
    std::string expected;
  };
  const std::vector<Case> cases{
      {"default kept, OK clicked",
       [](gui::InputBoxDialog* d) { QTest::mouseClick(d->okButton(), Qt::LeftButton); },
       "friend@example.org"},
      {"typed over the selected default, Enter",
       [](gui::InputBoxDialog* d) {
         QTest::keyClicks(d->edits().front(), "abc");
         QTest::keyClick(d->edits().front(), Qt::Key_Return);
       },
       "abc"},
      {"emptied, OK",
       [](gui::InputBoxDialog* d) {
         d->edits().front()->clear();
         QTest::mouseClick(d->okButton(), Qt::LeftButton);
       },
       ""},
      {"Cancel clicked",
       [](gui::InputBoxDialog* d) { QTest::mouseClick(d->cancelButton(), Qt::LeftButton); },
       ui::kInputCancelled},
      {"Esc", [](gui::InputBoxDialog* d) { QTest::keyClick(d, Qt::Key_Escape); },
       ui::kInputCancelled},
  };
  for (const Case& c : cases) {
    QString prefilled;
    bool allSelected = false;
    bool question = false;
    ModalDriver driver([&](QDialog* d) {
      auto* box = qobject_cast<gui::InputBoxDialog*>(d);
      QVERIFY(box);
      QCOMPARE(box->edits().size(), std::size_t{1});
      prefilled = box->edits().front()->text();
      allSelected = box->edits().front()->selectedText() == prefilled;
      const QList<QLabel*> labels = box->findChildren<QLabel*>();
      question = std::any_of(labels.cbegin(), labels.cend(),
                             [](const QLabel* l) { return !l->pixmap().isNull(); });
      c.act(box);
    });
    std::string value = "unchanged";
    prompter.InputBox("Address:", "Kelvrin", "friend@example.org", value);
    QVERIFY2(driver.shown(), c.name);
    QCOMPARE(prefilled, QStringLiteral("friend@example.org"));
    QVERIFY2(allSelected, c.name);
    QVERIFY2(question, c.name);
    QVERIFY2(value == c.expected, c.name);
  }
}

void MessageBoxDialogTest::inputBoxAcceptsAtMost255Characters() {
  gui::QtPrompter prompter;
  ModalDriver driver([](QDialog* d) {
    auto* box = qobject_cast<gui::InputBoxDialog*>(d);
    QVERIFY(box);
    QLineEdit* edit = box->edits().front();
    QCOMPARE(edit->width(), 170);
    QCOMPARE(edit->palette().color(QPalette::Base), edit->palette().color(QPalette::ToolTipBase));
    QVERIFY(box->okButton()->isDefault());
    QTest::keyClicks(box->edits().front(), QString(300, QLatin1Char('x')));
    QTest::mouseClick(box->okButton(), Qt::LeftButton);
  });
  std::string value;
  prompter.InputBox("Text:", "Kelvrin", "", value);
  QCOMPARE(value.size(), std::size_t{255});
}

void MessageBoxDialogTest::inputDialogJoinsFieldsAndCheckBoxes() {
  gui::QtPrompter prompter;
  std::vector<QString> values;
  std::vector<bool> checks;
  bool masked = false;
  bool secondBelowFirst = false;
  ModalDriver driver([&](QDialog* d) {
    auto* box = qobject_cast<gui::InputBoxDialog*>(d);
    QVERIFY(box);
    for (const QLineEdit* e : box->edits())
      values.push_back(e->text());
    for (const QCheckBox* c : box->checkBoxes())
      checks.push_back(c->isChecked());
    masked = std::all_of(box->edits().cbegin(), box->edits().cend(),
                         [](const QLineEdit* e) { return e->echoMode() == QLineEdit::Password; });
    // Each prompt above its field; the next prompt 1.6 field heights below
    // the top of the field before it.
    QList<QLabel*> prompts;
    for (QLabel* l : box->findChildren<QLabel*>()) {
      if (l->buddy()) prompts << l;
    }
    std::sort(prompts.begin(), prompts.end(),
              [](const QLabel* a, const QLabel* b) { return a->y() < b->y(); });
    secondBelowFirst =
        box->edits().size() == 2 && prompts.size() == 2 && prompts[0]->buddy() == box->edits()[0] &&
        prompts[1]->buddy() == box->edits()[1] &&
        box->edits()[0]->y() > prompts[0]->geometry().bottom() &&
        prompts[1]->y() - box->edits()[0]->y() == (box->edits()[0]->height() * 16 + 9) / 10;
    box->edits()[1]->setText("secret");
    QTest::mouseClick(box->checkBoxes()[1], Qt::LeftButton);
    QTest::mouseClick(box->okButton(), Qt::LeftButton);
  });
  ui::InputDialogArgs args;
  args.prompts = "Account|Password";
  args.caption = "Kelvrin";
  args.defaults = "anna|";
  args.checkBoxes = "\x01Remember|Use TLS";
  args.passwordChar = '*';
  std::string value;
  prompter.InputDialog(args, value);
  QVERIFY(driver.shown());
  QCOMPARE(values, (std::vector<QString>{"anna", ""}));
  QCOMPARE(checks, (std::vector<bool>{true, false}));
  QVERIFY(masked);
  QVERIFY(secondBelowFirst);
  QCOMPARE(value, std::string("anna\nsecret\r11"));
}

void MessageBoxDialogTest::progressBoxCancelTellsTheOpenerAndLeavesTheBoxOpen() {
  gui::QtPrompter prompter;
  int cancels = 0;
  ui::ProgressBoxArgs args;
  args.text = "Deleting non-spam mail in 5 seconds";
  args.caption = "Kelvrin";
  args.cancelButton = true;
  args.gauge = true;
  args.max = 5;
  QVERIFY(prompter.ProgressBoxOpen(args, [&] { ++cancels; }));
  QVERIFY(!prompter.ProgressBoxOpen(args, [] {}));  // one at a time

  gui::ProgressBoxWindow* box = prompter.progressWindow();
  QVERIFY(box);
  QVERIFY(box->isVisible());
  QVERIFY(!box->isModal());
  QCOMPARE(box->cancelButton()->text(), QStringLiteral("&Cancel"));
  QVERIFY(qAbs(box->cancelButton()->geometry().center().x() - box->width() / 2) <= 1);
  QCOMPARE(box->cancelButton()->y(), box->gauge()->geometry().bottom() + 1 + ui::kProgressSpacing);
  QTest::mouseClick(box->cancelButton(), Qt::LeftButton);
  QCOMPARE(cancels, 1);
  QVERIFY(box->isVisible());
  // Esc and the window's close act as Cancel too.
  QTest::keyClick(box, Qt::Key_Escape);
  box->close();
  QCOMPARE(cancels, 3);
  QVERIFY(box->isVisible());

  QVERIFY(prompter.ProgressBoxClose());
  QVERIFY(!prompter.ProgressBoxClose());
  QTest::qWait(0);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QVERIFY(!prompter.progressWindow());
  QVERIFY(prompter.ProgressBoxOpen(args, [] {}));
  QVERIFY(prompter.ProgressBoxClose());
}

void MessageBoxDialogTest::progressBoxMayBeClosedFromItsOwnCancel() {
  gui::QtPrompter prompter;
  ui::ProgressBoxArgs args;
  args.text = "Counting down";
  args.cancelButton = true;
  bool closed = false;
  QVERIFY(prompter.ProgressBoxOpen(args, [&] { closed = prompter.ProgressBoxClose(); }));
  QPointer<gui::ProgressBoxWindow> box = prompter.progressWindow();
  QTest::mouseClick(box->cancelButton(), Qt::LeftButton);
  QVERIFY(closed);
  QVERIFY(!prompter.ProgressBoxIsOpen());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QVERIFY(box.isNull());

  // Without a Cancel button, Esc does nothing.
  args.cancelButton = false;
  int cancels = 0;
  QVERIFY(prompter.ProgressBoxOpen(args, [&] { ++cancels; }));
  QVERIFY(!prompter.progressWindow()->cancelButton());
  QTest::keyClick(prompter.progressWindow(), Qt::Key_Escape);
  QCOMPARE(cancels, 0);
  QVERIFY(prompter.progressWindow()->isVisible());
  QVERIFY(prompter.ProgressBoxClose());
}

void MessageBoxDialogTest::progressBoxGaugeStepsWithinItsRange() {
  gui::QtPrompter prompter;
  ui::ProgressBoxArgs args;
  args.text = "Deleting";
  args.gauge = true;
  args.min = 0;
  args.max = 5;
  QVERIFY(prompter.ProgressBoxOpen(args));
  QProgressBar* gauge = prompter.progressWindow()->gauge();
  QVERIFY(gauge);
  QCOMPARE(gauge->value(), 0);
  QCOMPARE(gauge->height(), ui::kProgressGaugeHeight);
  QCOMPARE(gauge->x(), ui::kProgressSpacing);
  QVERIFY(prompter.ProgressBoxStep(2));
  QCOMPARE(gauge->value(), 2);
  // The gauge spans the box less its margins.
  QCOMPARE(gauge->width() + 2 * ui::kProgressSpacing, prompter.progressWindow()->width());
  QVERIFY(prompter.ProgressBoxStep(10));
  QCOMPARE(gauge->value(), 5);
  QVERIFY(prompter.ProgressBoxClose());
  QVERIFY(!prompter.ProgressBoxStep(1));
}

QTEST_MAIN(MessageBoxDialogTest)
#include "message_box_dialog_test.moc"
