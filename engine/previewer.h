// The live preview window as the engine sees it. The engine has no widgets: the application
// supplies the window through a factory set on each task.
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>

class TPreviewerBase {
public:
  virtual ~TPreviewerBase() = default;
  // Shows one picture. Called on the task's worker thread; the window work itself belongs on
  // the main thread. False once the user has closed the window.
  virtual bool PaintFrame(const QImage &ABitmap, int AFrameNumber, int64_t APTS) = 0;
};

using TPreviewerFactory = std::function<std::unique_ptr<TPreviewerBase>()>;
