#include "app_icon.h"

// Resources of a static library are only linked when something names them.
static void InitIconResources() {
  Q_INIT_RESOURCE(icons);
}

QList<int> AppIconSizes() {
  return {16, 32, 48, 64, 128, 256};
}

QIcon AppIcon() {
  static const bool registered = (InitIconResources(), true);
  (void)registered;
  QIcon icon;
  for (int size : AppIconSizes())
    icon.addFile(QStringLiteral(":/icons/lingchuan-converter-%1.png").arg(size), QSize(size, size));
  return icon;
}
