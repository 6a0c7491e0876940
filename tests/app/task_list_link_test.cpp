#include "task_list_link.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(NoTaskListTest, KeepsTasksForReadableInputsOnly) {
  QTemporaryDir dir;
  const QString input = dir.filePath("in.wav");
  QFile file(input);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();

  TNoTaskList tasks;
  TInputOptions record;
  InitInputOptions(record);
  EXPECT_EQ(tasks.AddTask(input, record), 0);
  EXPECT_EQ(QString::fromStdString(record.FileName), input);
  for (const QString &refused : {dir.filePath("missing.wav"), dir.path()}) {
    TInputOptions other;
    EXPECT_EQ(tasks.AddTask(refused, other), -1) << refused.toStdString();
    EXPECT_TRUE(tasks.LastErrMsg().endsWith("No such file or directory"))
        << tasks.LastErrMsg().toStdString();
  }
  EXPECT_EQ(tasks.TasksCount(), 1);

  TOutputOptions output;
  InitOutputOptions(output);
  EXPECT_FALSE(tasks.SetOutputFile(1, dir.filePath("out.avi"), output));
  EXPECT_TRUE(tasks.SetOutputFile(0, dir.filePath("out.avi"), output));
  EXPECT_EQ(QString::fromStdString(output.FileName), dir.filePath("out.avi"));
  tasks.RemoveTask(5); // no such task: nothing happens
  tasks.RemoveTask(0);
  EXPECT_EQ(tasks.TasksCount(), 0);
}

} // namespace
