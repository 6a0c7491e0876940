#include "change_combo_box.h"

TChangeComboBox::TChangeComboBox(QWidget *AParent) : QComboBox(AParent) {
  // activated is sent for every pick by mouse, keyboard or wheel, also of the same item.
  connect(this, &QComboBox::activated, this, [this](int) { emit Change(); });
}

void TChangeComboBox::SetItemIndex(int AIndex) {
  // An index beyond the items selects nothing new and raises nothing: the handlers then never
  // see a selection that no item backs.
  if (AIndex < -1 || AIndex >= count())
    return;
  setCurrentIndex(AIndex);
  emit Change();
}
