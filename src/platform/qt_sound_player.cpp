#include "platform/qt_sound_player.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>
#include <iostream>

namespace kelvrin::platform {

namespace {

constexpr std::array<const char*, 5> kFiles = {"new_mail.wav", "voice_mail.wav", "mixed_mail.wav",
                                               "declined.wav", "balloon.wav"};

bool hasSounds(const QString& dir) {
  return !dir.isEmpty() && QFileInfo::exists(QDir(dir).filePath(QString::fromLatin1(kFiles[0])));
}

}  // namespace

QtSoundPlayer::QtSoundPlayer(QString soundDir, QObject* parent)
    : QObject(parent), dir_(soundDir.isEmpty() ? soundDirectory() : std::move(soundDir)) {}

QtSoundPlayer::~QtSoundPlayer() = default;

QString QtSoundPlayer::fileName(notify::Sound sound) {
  const auto index = static_cast<std::size_t>(sound);
  return index < kFiles.size() ? QString::fromLatin1(kFiles[index]) : QString();
}

QString QtSoundPlayer::soundDirectory() {
  const QString fromEnvironment = qEnvironmentVariable("KELVRIN_SOUND_DIR");
  if (hasSounds(fromEnvironment)) return fromEnvironment;
  const QString besideProgram = QDir(QCoreApplication::applicationDirPath())
                                    .filePath(QStringLiteral("../share/kelvrin/sounds"));
  for (const QString& dir : {besideProgram, QStringLiteral(KELVRIN_INSTALLED_SOUND_DIR),
                             QStringLiteral(KELVRIN_SOURCE_SOUND_DIR)}) {
    if (hasSounds(dir)) return QDir(dir).canonicalPath();
  }
  return QString();
}

void QtSoundPlayer::reportOnce(const QString& why) {
  if (reported_) return;
  reported_ = true;
  std::cerr << "kelvrin: no sounds: " << why.toStdString() << '\n';
}

QSoundEffect* QtSoundPlayer::effect(notify::Sound sound) {
  const auto index = static_cast<std::size_t>(sound);
  if (index >= effects_.size()) return nullptr;
  if (effects_[index] == nullptr) {
    auto* e = new QSoundEffect(this);
    e->setLoopCount(1);
    e->setSource(QUrl::fromLocalFile(QDir(dir_).filePath(fileName(sound))));
    connect(e, &QSoundEffect::statusChanged, this, [this, e] {
      if (e->status() == QSoundEffect::Error) {
        reportOnce(QStringLiteral("%1 cannot be played").arg(e->source().toLocalFile()));
      }
    });
    effects_[index] = e;
  }
  return effects_[index];
}

void QtSoundPlayer::PlaySound(notify::Sound sound) {
  if (dir_.isEmpty()) {
    reportOnce(QStringLiteral("the sound files were not found"));
    return;
  }
  if (QMediaDevices::defaultAudioOutput().isNull()) {
    reportOnce(QStringLiteral("there is no audio device"));
    return;
  }
  QSoundEffect* e = effect(sound);
  if (e == nullptr) return;
  StopSound();
  // The effect loads asynchronously; play() of one still loading starts it
  // once it is loaded.
  e->play();
}

void QtSoundPlayer::StopSound() {
  for (QSoundEffect* e : effects_) {
    if (e != nullptr && e->isPlaying()) e->stop();
  }
}

}  // namespace kelvrin::platform
