// Services called from worker threads: log lines, message boxes and tasks for
// the window's thread. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <atomic>

#include "platform/ScriptedPlatform.h"

TEST(ThreadServices, LogLinesFromWorkersArriveOnTheWindowThreadInOrder) {
  platform::QtPlatform platform;
  std::vector<std::string> lines;  // written on the window's thread only
  bool allOnWindowThread = true;
  platform.SetLogTarget([&](const std::string& line) {
    allOnWindowThread = allOnWindowThread && QThread::currentThread() == qApp->thread();
    lines.push_back(line);
  });
  constexpr int kWorkers = 3;
  constexpr int kLines = 40;
  std::atomic<int> seenByWorker{0};
  for (int w = 0; w < kWorkers; ++w) {
    ASSERT_TRUE(platform.StartThread([&, w] {
      for (int i = 0; i < kLines; ++i) {
        platform.AppendLine(std::to_string(w) + ":" + std::to_string(i));
        // Synchronous: the line is in the list once AppendLine has returned.
        platform.RunOnWindowThread([&] {
          if (!lines.empty()) seenByWorker.fetch_add(1);
        });
      }
    }));
  }
  platform.WaitForThreads();
  EXPECT_TRUE(allOnWindowThread);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kWorkers * kLines));
  EXPECT_EQ(seenByWorker.load(), kWorkers * kLines);
  for (int w = 0; w < kWorkers; ++w) {
    int next = 0;
    for (const auto& line : lines) {
      if (line.rfind(std::to_string(w) + ":", 0) == 0) {
        EXPECT_EQ(line, std::to_string(w) + ":" + std::to_string(next));
        ++next;
      }
    }
    EXPECT_EQ(next, kLines);
  }
}

TEST(ThreadServices, WorkerMessageBoxIsShownOnTheWindowThreadAndBlocksTheWorker) {
  platform::QtPlatform platform;
  std::atomic<bool> returned{false};
  bool boxOnWindowThread = false;
  bool workerWaitedForTheBox = false;
  QString text;
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [&, timer] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      boxOnWindowThread = box->thread() == qApp->thread();
      workerWaitedForTheBox = !returned.load();
      text = box->text();
      box->button(QMessageBox::Ok)->click();
    }
  });
  timer->start(10);
  ASSERT_TRUE(platform.StartThread([&] {
    platform.ShowMessage("There is no backup result.");
    returned.store(true);
  }));
  platform.WaitForThreads();
  EXPECT_TRUE(returned.load());
  EXPECT_TRUE(boxOnWindowThread);
  EXPECT_TRUE(workerWaitedForTheBox);
  EXPECT_EQ(text, "There is no backup result.");
}

TEST(ThreadServices, TasksRunDirectlyOnTheWindowThread) {
  platform::QtPlatform platform;
  EXPECT_TRUE(platform.IsWindowThread());
  int ran = 0;
  platform.RunOnWindowThread([&] { ++ran; });
  EXPECT_EQ(ran, 1);
}

TEST(ThreadServices, DestroyingThePlatformServesAWorkerThatStillNeedsTheWindow) {
  std::vector<std::string> lines;
  {
    platform::QtPlatform platform;
    platform.SetLogTarget([&](const std::string& line) { lines.push_back(line); });
    ASSERT_TRUE(platform.StartThread([&] {
      QThread::msleep(50);
      platform.AppendLine("late line");
    }));
  }
  EXPECT_EQ(lines, std::vector<std::string>{"late line"});
}

TEST(ThreadServices, ScriptedMessagesFromSeveralWorkersAreAllRecorded) {
  ScriptedPlatform platform;
  for (int w = 0; w < 4; ++w) {
    ASSERT_TRUE(platform.StartThread([&platform] {
      for (int i = 0; i < 25; ++i) platform.ShowMessage("m");
    }));
  }
  platform.WaitForThreads();
  EXPECT_EQ(platform.Messages().size(), 100u);
}
