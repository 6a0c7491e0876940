// A job row: the 25 text columns of one row of the job list, and the rules that write them from
// the working parameters and the choices. The window shows columns 0-4, 6 and 7; the others
// carry the job's options between adding and starting.
//
// Window operations and what they call here:
//   bsSkinOfficeComboBox1Change (profile picker), with a row selected -> ReprofileRow
//   Button5Click from that handler                                    -> WriteProfileColumns
//   the six lists' change handlers, with a row selected               -> ChangeChoice
//   lvFilesSelectItem                                                 -> ParseCategoryCode,
//                                                                        ParseChoiceCode
//   adding a file (after SetOutputFile succeeded)                     -> WriteNewRowColumns
//                                                                        (option_assembly.h)
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "choice_lists.h"
#include "profile_catalog.h"
#include "working_parameters.h"

enum class TJobColumn {
  jcInputFile,       // 输入文件: full input path (the row's caption)
  jcDuration,        // 视频时间: hh:mm:ss or "N/A"
  jcFileSize,        // 文件大小: "1.5MB"
  jcOutputFile,      // 输出文件: output name without folder
  jcProgress,        // 转换进度
  jcFPS,             // frames per second while converting (no caption)
  jcPosition,        // 当前时间
  jcConvertedSize,   // 转换大小
  jcTaskNumber,      // 视频序号: task index + 1
  jcCategoryCode,    // 视频类别: CategoryCode()
  jcChoiceCode,      // 视频选项: ChoiceCode()
  jcVideoCodec,      // 视频编码
  jcAudioCodec,      // 音频编码
  jcAudioChannels,   // 声音频道
  jcVideoTag,        // VideoTag
  jcFileExt,         // FileExt
  jcFrameSize,       // 视频分辨率
  jcVideoBitrate,    // 视频比特率: bit/s, decimal
  jcFrameRate,       // 视频帧率
  jcAudioBitrate,    // 音频比特率: bit/s, decimal
  jcAudioSampleRate, // 音频采样率
  jcAspect,          // 视频缩放
  jcDisableVideo,    // 视频能否: "True" or "False"
  jcTargetType,      // TargetType
  jcNormType,        // NormType
};
inline constexpr int JobColumnCount = 25;

struct TJobColumnInfo {
  std::string_view Caption;
  int Width; // 0 = hidden
};
// Captions and widths of the 25 columns, in column order.
std::span<const TJobColumnInfo, JobColumnCount> JobColumns();

struct TJobRow {
  std::array<std::string, JobColumnCount> Columns;

  std::string &operator[](TJobColumn AColumn) { return Columns[static_cast<int>(AColumn)]; }
  const std::string &operator[](TJobColumn AColumn) const {
    return Columns[static_cast<int>(AColumn)];
  }
  bool operator==(const TJobRow &) const = default;
};

// The column a choice list writes.
TJobColumn ChoiceColumn(TChoiceList AList);

// The fourteen parameter columns (codecs, channels, tag, extension, size, bit rates, rate,
// sample rate, aspect, no-video flag, target, norm) from the working parameters.
void WriteProfileColumns(TJobRow &ARow, const TWorkingParameters &AParams);
// The column of one list from its working parameter.
void WriteChoiceColumn(TJobRow &ARow, TChoiceList AList, const TWorkingParameters &AParams);
// The six list-backed columns.
void WriteChoiceColumns(TJobRow &ARow, const TWorkingParameters &AParams);

// A list's selection changed while ARow is selected: its choice code field takes AIndex, its
// working parameter the confirmed AText, and its column that parameter. Nothing else changes;
// a refused text (EConvertError) or index (std::out_of_range) changes nothing at all.
void ChangeChoice(TWorkingParameters &AParams, TJobRow &ARow, TChoiceList AList, int AIndex,
                  std::string_view AText);

// The output file column with its extension replaced by AExt.
void ReplaceOutputExt(TJobRow &ARow, const std::string &AExt);

// The profile picker changed while ARow is selected, and the lists now hold ASelection (the
// new profile's defaults, or the choices being restored): applies the profile to AParams
// (ApplyProfile, with AOutputFolder and AOverwrite), writes the fourteen parameter columns,
// confirms ASelection and writes the six list-backed columns, records ASelection as the choice
// code, gives the output file the caption's extension and writes the category code. An
// unknown profile or an index outside its list raises std::out_of_range and changes nothing.
void ReprofileRow(TWorkingParameters &AParams, TJobRow &ARow, int ACategory, int AProfile,
                  const TChoiceSelection &ASelection, const std::string &AOutputFolder,
                  bool AOverwrite);
