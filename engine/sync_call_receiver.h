// The main-thread object that queued synchronised calls are delivered to.
#pragma once

#include <QObject>

// Runs every call waiting for the main thread.
void RunPendingSyncCalls();

class TSyncCallReceiver : public QObject {
  Q_OBJECT
public slots:
  void RunPending();
};
