#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/QtPlatform.h"

TEST(PlatformFiles, CurrentDirectoryCanBeChangedAndABadOneIsRefused) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  CQtPlatform platform;
  const std::string previous = platform.GetCurrentDirectory();
  ASSERT_FALSE(previous.empty());
  ASSERT_TRUE(platform.SetCurrentDirectory(dir.path().toStdString()));
  EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
  EXPECT_FALSE(platform.SetCurrentDirectory(dir.filePath("missing").toStdString()));
  EXPECT_FALSE(platform.SetCurrentDirectory(""));
  EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
  ASSERT_TRUE(platform.SetCurrentDirectory(previous));
}

TEST(PlatformFiles, EnumerationIsSortedWithDotEntriesFirst) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* name : {"b_label.mhd", "a_label.mhd"}) {
    QFile file(dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
  CQtPlatform platform;
  std::vector<CDirectoryEntry> entries;
  ASSERT_TRUE(platform.EnumerateDirectory(dir.path().toStdString(), entries));
  ASSERT_EQ(entries.size(), 5u);
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a_label.mhd", "b_label.mhd", "sub"}));
  EXPECT_TRUE(entries[4].isDirectory);
  EXPECT_FALSE(entries[2].isDirectory);
  EXPECT_EQ(entries[2].path, dir.filePath("a_label.mhd").toStdString());

  std::vector<CDirectoryEntry> none;
  EXPECT_FALSE(platform.EnumerateDirectory(dir.filePath("missing").toStdString(), none));
  EXPECT_TRUE(none.empty());
}
