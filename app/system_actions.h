// What the window asks of the desktop and the system: opening folders and pages, shutting the
// machine down, playing a sound. Behind one interface so that tests substitute a recorder and
// nothing is ever opened, played or powered off by a test.
#pragma once

#include <QDBusUnixFileDescriptor>
#include <QString>
#include <QUrl>

#include <memory>

class TSoundPlayer;

class TSystemActions {
public:
  virtual ~TSystemActions() = default;
  // Opens a folder in the file browser; the result is not examined by the callers.
  virtual void OpenFolder(const QString &AFolder) = 0;
  // Opens a page in the default browser.
  virtual void OpenUrl(const QUrl &AUrl) = 0;
  // Asks the system to power off now; false when it refused or could not be asked.
  virtual bool ShutDown() = 0;
  // Starts playing a wave file and returns at once; false when it cannot be played.
  virtual bool PlaySound(const QString &AFileName) = 0;
  // While on, asks the system not to suspend; quietly nothing where it cannot be asked.
  virtual void InhibitSleep(bool AOn) = 0;
  // A desktop notification; quietly nothing where no notification service runs.
  virtual void Notify(const QString &ASummary, const QString &ABody) = 0;
};

// The desktop's services: the file browser and browser through the desktop's URL handlers,
// power-off and the sleep lock through the login manager over the system bus, notifications
// over the session bus, sound through SDL audio.
class TDesktopActions : public TSystemActions {
public:
  TDesktopActions();
  ~TDesktopActions() override;

  void OpenFolder(const QString &AFolder) override;
  void OpenUrl(const QUrl &AUrl) override;
  bool ShutDown() override;
  bool PlaySound(const QString &AFileName) override;
  void InhibitSleep(bool AOn) override;
  void Notify(const QString &ASummary, const QString &ABody) override;

private:
  std::unique_ptr<TSoundPlayer> FSound;
  QDBusUnixFileDescriptor FInhibitor; // the login manager's lock: closing it releases it
};
