// The hot-key recorder: the codes a sequence of key presses records and what
// the field then shows (offscreen).

#include "gui/dialogs/macro_edit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>

namespace gui = kelvrin::gui;

namespace {

struct Press {
  Qt::Key key;
  Qt::KeyboardModifiers mods = Qt::NoModifier;
};

// One key press as the window system delivers it: the modifiers are held,
// not pressed again (QTest::keyClick would press them first).
void press(QWidget& w, const Press& p) {
  QString text;
  if (p.mods == Qt::NoModifier && p.key >= Qt::Key_A && p.key <= Qt::Key_Z) {
    text = QChar(QLatin1Char(static_cast<char>('a' + (p.key - Qt::Key_A))));
  }
  QKeyEvent down(QEvent::KeyPress, p.key, p.mods, text);
  QApplication::sendEvent(&w, &down);
}

}  // namespace

Q_DECLARE_METATYPE(QList<Press>)

class MacroEditTest : public QObject {
  Q_OBJECT

 private slots:
  void recordsTheCodesOfEachPress_data();
  void recordsTheCodesOfEachPress();
  void anEleventhPressIsNotRecorded();
  void aClickForgetsTheRecordingAndEmptiesTheField();
};

void MacroEditTest::recordsTheCodesOfEachPress_data() {
  QTest::addColumn<QList<Press>>("presses");
  QTest::addColumn<QByteArray>("codes");
  QTest::addColumn<QString>("text");
  QTest::newRow("Ctrl then M") << QList<Press>{{Qt::Key_Control}, {Qt::Key_M}}
                               << QByteArray("\xFCM") << QStringLiteral("xm");
  QTest::newRow("Ctrl and M together")
      << QList<Press>{{Qt::Key_Control, Qt::ControlModifier}, {Qt::Key_M, Qt::ControlModifier}}
      << QByteArray("\xFC\xFC") << QStringLiteral("xx");
  QTest::newRow("Ctrl and Shift held: the last of them")
      << QList<Press>{{Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier}} << QByteArray("\xFA")
      << QStringLiteral("xx");
  QTest::newRow("a letter alone") << QList<Press>{{Qt::Key_M}} << QByteArray("M")
                                  << QStringLiteral("m");
  // A key that types nothing still marks the field, so that Test can play it.
  QTest::newRow("F5 alone") << QList<Press>{{Qt::Key_F5}} << QByteArray("\xE8")
                            << QStringLiteral("x");
  QTest::newRow("Alt then Home, F12, Page Up")
      << QList<Press>{{Qt::Key_Alt}, {Qt::Key_Home}, {Qt::Key_F12}, {Qt::Key_PageUp}}
      << QByteArray("\xFE\xF0\xEF\x21") << QStringLiteral("xxxx");
  QTest::newRow("Windows key") << QList<Press>{{Qt::Key_Meta}} << QByteArray("\\")
                               << QStringLiteral("x");
}

void MacroEditTest::recordsTheCodesOfEachPress() {
  QFETCH(QList<Press>, presses);
  QFETCH(QByteArray, codes);
  QFETCH(QString, text);
  gui::MacroEdit edit;
  edit.show();
  for (const Press& p : presses)
    press(edit, p);
  QCOMPARE(QByteArray::fromStdString(edit.codes()), codes);
  QCOMPARE(edit.text(), text);
  QCOMPARE(edit.cursorPosition(), static_cast<int>(text.size()));
}

void MacroEditTest::anEleventhPressIsNotRecorded() {
  gui::MacroEdit edit;
  for (int i = 0; i < 11; ++i)
    QTest::keyClick(&edit, static_cast<Qt::Key>(Qt::Key_A + i));
  QCOMPARE(QByteArray::fromStdString(edit.codes()), QByteArray("ABCDEFGHIJ"));
}

void MacroEditTest::aClickForgetsTheRecordingAndEmptiesTheField() {
  gui::MacroEdit edit;
  edit.show();
  QTest::keyClick(&edit, Qt::Key_Control);
  QTest::keyClick(&edit, Qt::Key_M);
  QTest::mouseClick(&edit, Qt::LeftButton);
  QCOMPARE(edit.codes(), std::string());
  QCOMPARE(edit.text(), QString());
  QTest::keyClick(&edit, Qt::Key_F9);
  QCOMPARE(QByteArray::fromStdString(edit.codes()), QByteArray("\xEC"));
}

QTEST_MAIN(MacroEditTest)
#include "macro_edit_test.moc"
