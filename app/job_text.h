// Text forms of the job list and the file lists its add commands work on.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// Seconds as "hh:mm:ss", each field at least two digits. Hours are not wrapped at 24, so a
// 25-hour recording reads 25:00:00. Negative counts read 00:00:00.
QString SecToDate(int64_t ASec);

// A byte count as megabytes rounded to two decimals (halves to even), in the shortest decimal
// form with the locale's decimal separator, followed by "MB": 1.5MB, 10MB, 0.37MB. "N/A" for a
// negative (unknown) size.
QString JobSizeText(int64_t ABytes);

// The filter of the open dialogs: 42 pairs, each written as description "|" patterns "|".
QString OpenDialogFilter();

// The filter text as the name filters of a file dialog: one entry per pair, the patterns
// appended in parentheses (separated by blanks) so the dialog can match them; the dialog is
// told to hide them, so it shows the descriptions as they are.
QStringList OpenDialogNameFilters(const QString &AFilter);

// The full paths of the regular files directly in AFilePath that match AExtMask ("*.*" means
// every file, as on the system the mask comes from), hidden ones included, sorted by name
// without regard to case. No recursion. Pipes and devices are left out: opening one to examine
// it could block for ever. An empty AFilePath gives an empty list.
QStringList GetFilenames(const QString &AFilePath, const QString &AExtMask);

// Whether ABaseName can become an output name: not empty and no folder in it.
bool ValidOutputBaseName(const QString &ABaseName);
