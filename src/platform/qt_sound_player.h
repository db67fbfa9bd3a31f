#pragma once

// The program's sounds on Qt Multimedia: one QSoundEffect per sound over our
// own WAV files (share/sounds). A sound plays once and the call returns at
// once; a desktop without an audio device plays nothing and the log says so
// once.

#include <QObject>
#include <QString>
#include <array>
#include <memory>

#include "notify/sound_player.h"

class QSoundEffect;

namespace kelvrin::platform {

class QtSoundPlayer final : public QObject, public notify::SoundPlayer {
 public:
  // soundDir: the folder of the WAV files; empty looks for it like the help
  // pages (KELVRIN_SOUND_DIR, beside the program, installed, source tree).
  explicit QtSoundPlayer(QString soundDir = QString(), QObject* parent = nullptr);
  ~QtSoundPlayer() override;

  void PlaySound(notify::Sound sound) override;
  void StopSound() override;

  // The file a sound plays.
  static QString fileName(notify::Sound sound);
  static QString soundDirectory();
  const QString& directory() const { return dir_; }

 private:
  QSoundEffect* effect(notify::Sound sound);
  void reportOnce(const QString& why);

  QString dir_;
  std::array<QSoundEffect*, 5> effects_{};
  bool reported_ = false;
};

}  // namespace kelvrin::platform
