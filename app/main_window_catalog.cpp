// The profile pickers and the six choice lists. Their contents and the rules that turn a
// profile and choices into working parameters and row columns come from the catalog; until it
// is bound the pickers stay empty and these handlers change nothing.
#include "main_window.h"

void TForm1::Button2Click() {}

void TForm1::Button5Click() {}

void TForm1::Button6Click() {
  for (QString *field :
       {&Video_OutPutFileName, &Video_AddFileName, &Video_FileExt, &Video_FileFormat,
        &Video_VideoCodec, &Video_AudioCodec, &Video_AudioChannels, &Video_AudioSampleRate,
        &Video_FrameSize, &Video_FrameRate, &Video_FrameAspectRatio, &Video_VideoFilters,
        &Video_VideoTag, &Video_TargetType, &Video_NormType})
    field->clear();
  Video_AudioVolume = QStringLiteral("256");
  Video_VideoBitrate = -1;
  Video_AudioBitrate = -1;
  Video_DisableVideo = false;
}

void TForm1::Button13Click() {}

void TForm1::Button18Click() {}

void TForm1::bsSkinOfficeComboBox1Change() {}

void TForm1::bsSkinOfficeComboBox2Change() {
  Button2Click();
}

void TForm1::bsSkinComboBox1Change() {}

void TForm1::bsSkinComboBox2Change() {}

void TForm1::bsSkinComboBox3Change() {}

void TForm1::bsSkinComboBox4Change() {}

void TForm1::bsSkinComboBox9Change() {}

void TForm1::bsSkinComboBox10Change() {}
