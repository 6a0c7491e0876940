#include "sound_player.h"

#include <QFile>

#include <SDL.h>

TSoundPlayer::TSoundPlayer(QObject *AParent) : QObject(AParent) {
  FDoneTimer.setInterval(100);
  connect(&FDoneTimer, &QTimer::timeout, this, &TSoundPlayer::CheckDone);
}

TSoundPlayer::~TSoundPlayer() {
  CloseDevice();
  if (FAudioInit)
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool TSoundPlayer::Play(const QString &AFileName) {
  CloseDevice();
  if (!FAudioInit) {
    // Counted by SDL, so the preview player may use the audio subsystem at the same time.
    // Audio brings up SDL's event part, which would otherwise swallow SIGINT and SIGTERM.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
      return false;
    FAudioInit = true;
  }
  SDL_AudioSpec format;
  Uint8 *buffer = nullptr;
  Uint32 length = 0;
  if (SDL_LoadWAV(QFile::encodeName(AFileName).constData(), &format, &buffer, &length) == nullptr)
    return false;
  format.callback = nullptr; // queued, not pulled
  FDevice = SDL_OpenAudioDevice(nullptr, 0, &format, nullptr, 0);
  const bool queued = FDevice != 0 && SDL_QueueAudio(FDevice, buffer, length) == 0;
  SDL_FreeWAV(buffer);
  if (!queued) {
    CloseDevice();
    return false;
  }
  SDL_PauseAudioDevice(FDevice, 0);
  FDrained = false;
  FDoneTimer.start();
  return true;
}

void TSoundPlayer::CheckDone() {
  if (FDevice == 0 || SDL_GetQueuedAudioSize(FDevice) != 0)
    return;
  // The device still holds the last buffer when the queue runs dry: close one tick later.
  if (FDrained)
    CloseDevice();
  else
    FDrained = true;
}

void TSoundPlayer::CloseDevice() {
  FDoneTimer.stop();
  if (FDevice != 0) {
    SDL_CloseAudioDevice(FDevice);
    FDevice = 0;
  }
}
