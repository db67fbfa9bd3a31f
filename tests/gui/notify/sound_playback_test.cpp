// The sounds really reach an audio server: a private PulseAudio daemon with a
// null sink stands in for the user's sound card, its monitor is recorded
// while the player plays, and the recording must carry the sound. The daemon
// listens on a socket in a temporary folder only and is stopped by its PID.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <algorithm>
#include <cstdlib>
#include <functional>

#include "platform/qt_sound_player.h"

namespace notify = kelvrin::notify;
namespace platform = kelvrin::platform;

namespace {

constexpr int kWaitMs = 10000;
constexpr int kRecordRate = 8000;

// The largest sample of a recording of signed 16-bit mono samples.
int peakOf(const QByteArray& raw) {
  int peak = 0;
  for (qsizetype i = 0; i + 1 < raw.size(); i += 2) {
    const int sample = qFromLittleEndian<qint16>(raw.constData() + i);
    peak = std::max(peak, std::abs(sample));
  }
  return peak;
}

}  // namespace

class SoundPlaybackTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QProcess server_;
  QString pactl_;
  QString parecord_;

  // pactl against the private server; its output, or a null string when it
  // failed.
  QString pactl(const QStringList& arguments) {
    QProcess p;
    p.start(pactl_, arguments);
    if (!p.waitForFinished(kWaitMs) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
      return QString();
    }
    return QString::fromUtf8(p.readAllStandardOutput());
  }

  bool waitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
      if (timer.elapsed() > kWaitMs) return false;
      QTest::qWait(50);
    }
    return true;
  }

 private slots:
  void initTestCase() {
    const QString pulseaudio = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    pactl_ = QStandardPaths::findExecutable(QStringLiteral("pactl"));
    parecord_ = QStandardPaths::findExecutable(QStringLiteral("parecord"));
    if (pulseaudio.isEmpty() || pactl_.isEmpty() || parecord_.isEmpty()) {
      QSKIP("pulseaudio and pulseaudio-utils are not installed (scripts/setup installs them)");
    }
    QVERIFY(dir_.isValid());
    const QString socket = dir_.filePath(QStringLiteral("native"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The daemon's own state stays in the temporary folder, away from any
    // session the user runs.
    env.insert(QStringLiteral("HOME"), dir_.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    server_.setProcessEnvironment(env);
    server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server_.start(pulseaudio,
                  {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                   QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--disable-shm=yes"),
                   QStringLiteral("--log-level=error"), QStringLiteral("-L"),
                   QStringLiteral("module-null-sink sink_name=kelvrin_test"), QStringLiteral("-L"),
                   QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket});
    QVERIFY(server_.waitForStarted(kWaitMs));
    // The player and the tools of this process talk to the private server.
    qputenv("PULSE_SERVER", ("unix:" + socket).toLocal8Bit());
    qputenv("PULSE_SINK", "kelvrin_test");
    qputenv("PULSE_COOKIE", dir_.filePath(QStringLiteral("cookie")).toLocal8Bit());
    QVERIFY2(waitFor([this] { return !pactl({QStringLiteral("info")}).isNull(); }),
             "the private audio server did not answer");
  }

  void cleanupTestCase() {
    if (server_.state() != QProcess::NotRunning) {
      server_.terminate();
      if (!server_.waitForFinished(kWaitMs)) server_.kill();
    }
  }

  void everySoundIsHeard_data() {
    QTest::addColumn<int>("sound");
    QTest::addColumn<int>("milliseconds");
    QTest::newRow("WaveNewEM1") << int(notify::Sound::WaveNewEM1) << 550;
    QTest::newRow("VoiceMail1") << int(notify::Sound::VoiceMail1) << 2100;
    QTest::newRow("WaveMixedEM1") << int(notify::Sound::WaveMixedEM1) << 190;
    QTest::newRow("Raz1") << int(notify::Sound::Raz1) << 1140;
    QTest::newRow("WaveBalloon1") << int(notify::Sound::WaveBalloon1) << 140;
  }

  void everySoundIsHeard() {
    QFETCH(int, sound);
    QFETCH(int, milliseconds);
    const QString recording = dir_.filePath(QStringLiteral("recording-%1.raw").arg(sound));
    QProcess recorder;
    recorder.start(parecord_, {QStringLiteral("--device=kelvrin_test.monitor"),
                               QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                               QStringLiteral("--rate=%1").arg(kRecordRate),
                               QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20"),
                               recording});
    QVERIFY(recorder.waitForStarted(kWaitMs));
    // Play only once the monitor's samples flow into the file; what comes
    // before the sound is silence.
    QVERIFY2(waitFor([&recording] { return QFileInfo(recording).size() > 0; }),
             "the recorder delivered nothing");
    const qint64 before = QFileInfo(recording).size();

    platform::QtSoundPlayer player(QStringLiteral(KELVRIN_SOUND_SOURCE_DIR));
    player.PlaySound(static_cast<notify::Sound>(sound));
    // Record until the sound's length and half a second more have arrived.
    const qint64 wanted = before + qint64(milliseconds + 500) * kRecordRate / 1000 * 2;
    QVERIFY2(waitFor([&recording, wanted] { return QFileInfo(recording).size() >= wanted; }),
             "the recording stalled");
    recorder.terminate();
    QVERIFY(recorder.waitForFinished(kWaitMs));

    QFile file(recording);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray raw = file.readAll();
    // Our sounds are loud tones: well above the few units of dither a
    // resampler adds to silence.
    QVERIFY2(peakOf(raw) > 2000, qPrintable(QStringLiteral("peak %1").arg(peakOf(raw))));
  }
};

QTEST_MAIN(SoundPlaybackTest)
#include "sound_playback_test.moc"
