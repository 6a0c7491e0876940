// The preview player's side of the window. The player fills Panel6 and pnlPlayerButtons and
// these calls when it is bound; until then they do nothing.
#include "main_window.h"

void TForm1::PreparePreviewPlayer() {}

void TForm1::PreviewOpen(const QString &) {}

void TForm1::PreviewStop() {}

void TForm1::PreviewSliderReset() {}

void TForm1::DetachPlayerEvents() {}
