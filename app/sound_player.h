// Plays one wave file at a time through SDL audio without blocking the caller.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

class TSoundPlayer : public QObject {
  Q_OBJECT
public:
  explicit TSoundPlayer(QObject *AParent = nullptr);
  ~TSoundPlayer() override;

  // Queues the whole file on a fresh audio device and returns; a sound still playing is cut
  // off. False when the file cannot be read as a wave file or no audio device opens.
  bool Play(const QString &AFileName);
  bool Playing() const { return FDevice != 0; }

private:
  void CloseDevice();
  void CheckDone();

  bool FAudioInit = false;
  uint32_t FDevice = 0;  // SDL_AudioDeviceID; 0 = none open
  bool FDrained = false; // the queue was found empty once
  QTimer FDoneTimer;     // closes the device once its queue has drained
};
