#pragma once

// The sounds the program plays. Each player holds one short sound and plays
// it once, without waiting for its end; a desktop without audio plays
// nothing and says so once in the log, never in a box.

#include <vector>

namespace kelvrin::notify {

enum class Sound : int {
  WaveNewEM1 = 0,    // new valid mail; also the command-mail and flash balloons
  VoiceMail1 = 1,    // new valid mail with "Voice Sounds" on
  WaveMixedEM1 = 2,  // suspect or spam counts changed, no new valid mail
  Raz1 = 3,          // the donation offer declined
  WaveBalloon1 = 4,  // kept with the others; nothing plays it
};

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Stops whatever this program is playing and starts the sound; returns at
  // once.
  virtual void PlaySound(Sound sound) = 0;
  virtual void StopSound() = 0;
};

// The command line and programs without audio.
class SilentSoundPlayer final : public SoundPlayer {
 public:
  void PlaySound(Sound) override {}
  void StopSound() override {}
};

// Keeps what was asked for, in order (tests, and a log of what was announced).
class RecordingSoundPlayer final : public SoundPlayer {
 public:
  void PlaySound(Sound sound) override { played.push_back(sound); }
  void StopSound() override { ++stops; }

  std::vector<Sound> played;
  int stops = 0;
};

}  // namespace kelvrin::notify
