#include "system_actions.h"

#include "sound_player.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>

TDesktopActions::TDesktopActions() : FSound(std::make_unique<TSoundPlayer>()) {}

TDesktopActions::~TDesktopActions() = default;

void TDesktopActions::OpenFolder(const QString &AFolder) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(AFolder));
}

void TDesktopActions::OpenUrl(const QUrl &AUrl) {
  QDesktopServices::openUrl(AUrl);
}

bool TDesktopActions::ShutDown() {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected())
    return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
  // Not interactive: the work is done and nobody may be at the machine to answer a prompt.
  call << false;
  const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
  return reply.type() == QDBusMessage::ReplyMessage;
}

bool TDesktopActions::PlaySound(const QString &AFileName) {
  return FSound->Play(AFileName);
}
