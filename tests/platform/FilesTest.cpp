#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/QtPlatform.h"

TEST(PlatformFiles, CurrentDirectoryCanBeChangedAndABadOneIsRefused) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  platform::QtPlatform platform;
  const std::string previous = platform.GetCurrentDirectory();
  ASSERT_FALSE(previous.empty());
  ASSERT_TRUE(platform.SetCurrentDirectory(dir.path().toStdString()));
  EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
  EXPECT_FALSE(platform.SetCurrentDirectory(dir.filePath("missing").toStdString()));
  EXPECT_FALSE(platform.SetCurrentDirectory(""));
  EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
  ASSERT_TRUE(platform.SetCurrentDirectory(previous));
}
