// A drop-down list that reports every selection: each pick by the user and each selection set
// by code, also when the item stays the same. The job list and the profile pickers rely on it:
// selecting a row re-selects the row's profile and choices and expects each handler to run.
#pragma once

#include <QComboBox>

class TChangeComboBox : public QComboBox {
  Q_OBJECT
public:
  explicit TChangeComboBox(QWidget *AParent = nullptr);

  int ItemIndex() const { return currentIndex(); }
  // Selects AIndex (-1 for none) and raises Change, even when AIndex is already selected; an
  // index beyond the items changes nothing. Every code path that selects an item goes through
  // here.
  void SetItemIndex(int AIndex);

signals:
  void Change();
};
