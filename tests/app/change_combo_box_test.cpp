#include "qt_print.h"
#include "change_combo_box.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(ChangeComboBoxTest, EverySelectionRaisesChangeOnce) {
  TChangeComboBox box;
  int changes = 0;
  QObject::connect(&box, &TChangeComboBox::Change, [&] { ++changes; });
  box.addItems({"a", "b", "c"}); // filling selects item 0 but is no selection by anyone
  EXPECT_EQ(changes, 0);

  const struct {
    int Set;
    int WantIndex;
    int WantChanges;
  } steps[] = {
      {1, 1, 1},  {1, 1, 2},   // the same item again still reports
      {2, 2, 3},  {-1, -1, 4}, // none selected
      {5, -1, 4},              // beyond the items: nothing happens
      {0, 0, 5},
  };
  for (const auto &s : steps) {
    box.SetItemIndex(s.Set);
    EXPECT_EQ(box.ItemIndex(), s.WantIndex) << s.Set;
    EXPECT_EQ(changes, s.WantChanges) << s.Set;
  }
}

TEST(ChangeComboBoxTest, UserPicksRaiseChange) {
  TChangeComboBox box;
  box.addItems({"a", "b"});
  int changes = 0;
  QObject::connect(&box, &TChangeComboBox::Change, [&] { ++changes; });
  box.show();
  QTest::keyClick(&box, Qt::Key_Down);
  EXPECT_EQ(box.ItemIndex(), 1);
  EXPECT_EQ(changes, 1);
  emit box.activated(1); // picking the selected item from the drop-down
  EXPECT_EQ(changes, 2);
}

} // namespace
