// Readable Qt strings in test failure messages.
#pragma once

#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString &AText, std::ostream *AOut) {
  *AOut << '"' << AText.toStdString() << '"';
}

inline void PrintTo(const QStringList &AList, std::ostream *AOut) {
  *AOut << '[';
  for (qsizetype i = 0; i < AList.size(); ++i)
    *AOut << (i ? ", " : "") << '"' << AList[i].toStdString() << '"';
  *AOut << ']';
}
