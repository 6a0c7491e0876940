#include "system_actions.h"

#include "sound_player.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QVariantMap>
#include <QDesktopServices>
#include <QFileInfo>

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

void TDesktopActions::InhibitSleep(bool AOn) {
  if (!AOn) {
    FInhibitor = QDBusUnixFileDescriptor();
    return;
  }
  if (FInhibitor.isValid())
    return;
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected())
    return;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
  call << QStringLiteral("sleep:idle") << QStringLiteral("凌川安卓手机格式转换器")
       << QStringLiteral("正在转换文件") << QStringLiteral("block");
  const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, 2000);
  if (reply.isValid())
    FInhibitor = reply.value();
}

void TDesktopActions::Notify(const QString &ASummary, const QString &ABody) {
  // Without a session bus address the bus library would try to start a bus of its own.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
      (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))))
    return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  call << QStringLiteral("凌川安卓手机格式转换器") << 0u << QStringLiteral("video-x-generic")
       << ASummary << ABody << QStringList() << QVariantMap() << -1;
  // Nobody waits for the answer: a missing service only costs a failed call.
  bus.call(call, QDBus::NoBlock);
}
