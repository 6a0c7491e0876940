// The profile pickers and the six choice lists, bound to the catalog: what they offer, how a
// profile and the choices become working parameters, and how a change reaches the selected row.
#include "main_window.h"

#include "change_combo_box.h"
#include "options_dialog.h"
#include "profile_catalog.h"

#include <QLineEdit>
#include <QSet>
#include <QTreeWidget>

#include <stdexcept>

namespace {

QString Text(std::string_view AText) {
  return QString::fromUtf8(AText.data(), static_cast<qsizetype>(AText.size()));
}

QIcon CategoryIcon(int AIndex) {
  return QIcon(QStringLiteral(":/glyphs/category_%1.png").arg(AIndex));
}

QIcon ProfileIcon(int AIndex) {
  return QIcon(QStringLiteral(":/glyphs/profile_%1.png").arg(AIndex));
}

} // namespace

void TForm1::FillCategoryPicker() {
  bsSkinOfficeComboBox2->clear();
  for (const TCategory &category : Categories())
    bsSkinOfficeComboBox2->addItem(CategoryIcon(category.IconIndex), Text(category.Caption));
  // Position 0 without raising the change: start-up fills the profiles itself.
  bsSkinOfficeComboBox2->setCurrentIndex(0);
}

const TProfile *TForm1::SelectedProfile() const {
  return FindProfile(bsSkinOfficeComboBox2->ItemIndex(), bsSkinOfficeComboBox1->ItemIndex());
}

TChangeComboBox *TForm1::ChoiceBox(TChoiceList AList) const {
  switch (AList) {
  case TChoiceList::clResolution:
    return bsSkinComboBox1;
  case TChoiceList::clVideoBitrate:
    return bsSkinComboBox2;
  case TChoiceList::clAudioBitrate:
    return bsSkinComboBox3;
  case TChoiceList::clAspect:
    return bsSkinComboBox4;
  case TChoiceList::clFrameRate:
    return bsSkinComboBox9;
  case TChoiceList::clSampleRate:
    return bsSkinComboBox10;
  }
  return bsSkinComboBox1;
}

std::optional<TChoiceSelection> TForm1::ChoiceSelection() const {
  TChoiceSelection selection{};
  for (TChoiceList list : AllChoiceLists) {
    const int index = ChoiceBox(list)->ItemIndex();
    if (index < 0)
      return std::nullopt;
    selection[ListIndex(list)] = index;
  }
  return selection;
}

bool TForm1::OverwriteOutput() const {
  return FForm5 != nullptr && FForm5->OverwriteOutput();
}

TJobRow TForm1::ReadJobRow(const QTreeWidgetItem *AItem) {
  TJobRow row;
  for (int i = 0; i < JobColumnCount; ++i)
    row.Columns[i] = AItem->text(i).toStdString();
  return row;
}

void TForm1::WriteJobRow(QTreeWidgetItem *AItem, const TJobRow &ARow) {
  for (int i = 0; i < JobColumnCount; ++i) {
    const QString text = QString::fromStdString(ARow.Columns[i]);
    if (AItem->text(i) != text)
      AItem->setText(i, text);
  }
}

void TForm1::Button2Click() {
  bsSkinOfficeComboBox1->clear();
  const int category = bsSkinOfficeComboBox2->ItemIndex();
  const auto categories = Categories();
  if (category < 0 || category >= static_cast<int>(categories.size()))
    return;
  const auto profiles = categories[category].Profiles;
  for (int i = 0; i < static_cast<int>(profiles.size()); ++i)
    bsSkinOfficeComboBox1->addItem(ProfileIcon(ProfileIconIndex(i)), Text(profiles[i].Caption));
  bsSkinOfficeComboBox1->SetItemIndex(0);
}

void TForm1::Button5Click() {
  const TProfile *profile = SelectedProfile();
  if (profile == nullptr)
    return;
  // Keeps a new job's output apart from the outputs the rows already name. By name only, as a
  // folder add asks this for every file.
  QSet<QString> names;
  for (int i = 0; i < JobCount(); ++i)
    names.insert(Job(i)->text(Col(jcOutputFile)));
  const std::string folder = Video_OutPut_Folder_Edit->text().toStdString();
  const std::string prefix = JoinOutputPath(folder, std::string());
  ApplyProfile(FParams, *profile, folder, OverwriteOutput(), [&](const std::string &APath) {
    return APath.starts_with(prefix) &&
           names.contains(QString::fromStdString(APath.substr(prefix.size())));
  });
}

void TForm1::Button6Click() {
  FParams.Reset();
}

void TForm1::Button13Click() {
  const TProfile *profile = SelectedProfile();
  const std::optional<TChoiceSelection> selection = ChoiceSelection();
  if (profile != nullptr && selection)
    ConfirmChoices(FParams, *profile, *selection);
}

void TForm1::Button18Click() {
  const TProfile *profile = SelectedProfile();
  for (TChoiceList list : AllChoiceLists) {
    ChoiceBox(list)->clear();
    ChoiceBox(list)->setEnabled(true);
  }
  if (profile == nullptr)
    return;
  // Each default selection runs the list's change, as a pick by the user does.
  for (TChoiceList list : AllChoiceLists) {
    TChangeComboBox *box = ChoiceBox(list);
    for (std::string_view item : ChoiceItems(*profile, list))
      box->addItem(Text(item));
    box->SetItemIndex(DefaultIndex(*profile, list));
  }
  for (TChoiceList list : AllChoiceLists)
    if (!ChoiceListEnabled(*profile, list))
      ChoiceBox(list)->setEnabled(false);
}

void TForm1::bsSkinOfficeComboBox1Change() {
  Button18Click();
  QTreeWidgetItem *item = SelectedJob();
  const std::optional<TChoiceSelection> selection = ChoiceSelection();
  if (item == nullptr || SelectedProfile() == nullptr || !selection)
    return;
  TJobRow row = ReadJobRow(item);
  try {
    ReprofileRow(FParams, row, bsSkinOfficeComboBox2->ItemIndex(),
                 bsSkinOfficeComboBox1->ItemIndex(), *selection,
                 Video_OutPut_Folder_Edit->text().toStdString(), OverwriteOutput());
  } catch (const std::exception &) {
    return; // a refused selection leaves the row as it was
  }
  WriteJobRow(item, row);
  lvFiles->setFocus();
}

void TForm1::bsSkinOfficeComboBox2Change() {
  Button2Click();
}

void TForm1::ChoiceChange(TChoiceList AList) {
  QTreeWidgetItem *item = SelectedJob();
  TChangeComboBox *box = ChoiceBox(AList);
  if (item == nullptr || box->ItemIndex() < 0)
    return;
  TJobRow row = ReadJobRow(item);
  try {
    ChangeChoice(FParams, row, AList, box->ItemIndex(), box->currentText().toStdString());
  } catch (const std::exception &) {
    return;
  }
  WriteJobRow(item, row);
  lvFiles->setFocus();
}

void TForm1::bsSkinComboBox1Change() {
  ChoiceChange(TChoiceList::clResolution);
}

void TForm1::bsSkinComboBox2Change() {
  ChoiceChange(TChoiceList::clVideoBitrate);
}

void TForm1::bsSkinComboBox3Change() {
  ChoiceChange(TChoiceList::clAudioBitrate);
}

void TForm1::bsSkinComboBox4Change() {
  ChoiceChange(TChoiceList::clAspect);
}

void TForm1::bsSkinComboBox9Change() {
  ChoiceChange(TChoiceList::clFrameRate);
}

void TForm1::bsSkinComboBox10Change() {
  ChoiceChange(TChoiceList::clSampleRate);
}
