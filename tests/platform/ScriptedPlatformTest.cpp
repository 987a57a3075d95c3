#include <gtest/gtest.h>

#include "platform/ScriptedPlatform.h"

TEST(ScriptedPlatform, AnswersDialogsInOrderAndCountsUnscriptedOnes) {
  ScriptedPlatform platform;
  platform.QueueFile("/data/a.mhd");
  platform.QueueFile(std::nullopt);
  platform.QueueFolder("/data/refs");
  EXPECT_EQ(platform.ChooseFile("A|*.a||", platform::FileListView::kReport), "/data/a.mhd");
  EXPECT_EQ(platform.ChooseFile("B|*.b||", platform::FileListView::kList), std::nullopt);
  EXPECT_EQ(platform.UnansweredDialogs(), 0);
  EXPECT_EQ(platform.ChooseFile("C|*.c||", platform::FileListView::kList), std::nullopt);
  EXPECT_EQ(platform.UnansweredDialogs(), 1);
  EXPECT_EQ(platform.BrowseForFolder("title"), "/data/refs");
  EXPECT_EQ(platform.BrowseForFolder("title"), std::nullopt);
  EXPECT_EQ(platform.UnansweredDialogs(), 2);

  ASSERT_EQ(platform.FileRequests().size(), 3u);
  EXPECT_EQ(platform.FileRequests()[0].filter, "A|*.a||");
  EXPECT_EQ(platform.FileRequests()[0].view, platform::FileListView::kReport);
  EXPECT_EQ(platform.FolderRequests(), (std::vector<std::string>{"title", "title"}));
}

TEST(ScriptedPlatform, RecordsMessagesAndWaitCursorUse) {
  ScriptedPlatform platform;
  {
    platform::WaitCursor wait(platform);
    EXPECT_EQ(platform.WaitCursorDepth(), 1);
    platform.ShowMessage("first");
  }
  platform.ShowMessage("second");
  EXPECT_EQ(platform.WaitCursorDepth(), 0);
  EXPECT_EQ(platform.WaitCursorUses(), 1);
  EXPECT_EQ(platform.TakeMessages(), (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(platform.Messages().empty());
}

TEST(ScriptedPlatform, ThreadStartCanBeMadeToFailOnce) {
  ScriptedPlatform platform;
  platform.FailNextThreadStart();
  bool ran = false;
  EXPECT_FALSE(platform.StartThread([&ran] { ran = true; }));
  EXPECT_TRUE(platform.StartThread([&ran] { ran = true; }));
  platform.WaitForThreads();
  EXPECT_TRUE(ran);
}
