// Notifications to windows found by caption: order, threads, missing and
// renamed windows, and texts of notifications that are never delivered.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "tests/support/OperatorInput.h"
#include "tests/support/Wait.h"
#include "ui/framework/Dialog.h"
#include "ui/framework/WindowNotifications.h"

using namespace varnel;
using namespace varnel::test;
using namespace std::chrono_literals;

namespace {

// Own copies of the message numbers the dialogs use.
constexpr std::uint32_t kDeviceInfo = 0x465;
constexpr std::uint32_t kSettingsRefresh = 0x466;
constexpr std::uint32_t kProgress = 0x464;

DialogTemplate Captioned(const char* caption) {
  DialogTemplate t;
  t.caption = caption;
  t.width = 120;
  t.height = 60;
  return t;
}

Notification WithText(std::uint32_t message, std::uint32_t wParam, std::string text) {
  Notification n;
  n.message = message;
  n.wParam = wParam;
  n.text = std::move(text);
  return n;
}

TEST(Notifications, PostedFromAWorkerArriveInPostingOrderOnTheMainThread) {
  WindowRegistry windows;
  DialogNotificationPoster poster{windows};
  Dialog dialog(Captioned("Varnel"), nullptr, &windows);
  constexpr int kCount = 2000;
  struct Seen {
    std::uint32_t message;
    std::uint32_t value;
    std::string text;
    bool mainThread;
  };
  std::vector<Seen> seen;
  const std::thread::id mainThread = std::this_thread::get_id();
  auto record = [&](Notification& n) {
    seen.push_back({n.message, n.lParam, n.text.value_or("<null>"), std::this_thread::get_id() == mainThread});
    if (seen.size() == kCount) dialog.EndDialog(kIdOk);
  };
  dialog.OnMessage(kDeviceInfo, record);
  dialog.OnMessage(kSettingsRefresh, record);

  std::atomic<int> refused{0};
  std::thread worker([&] {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!poster.HasWindow("Varnel") && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    for (int i = 0; i < kCount; ++i) {
      Notification n;
      n.message = (i % 3 == 0) ? kSettingsRefresh : kDeviceInfo;
      n.lParam = static_cast<std::uint32_t>(i);
      if (i % 2 == 0) n.text = "第" + std::to_string(i) + "行\r\n";
      if (!poster.Post("Varnel", std::move(n))) ++refused;
    }
  });
  const Ticker deadline(10000, [&] { dialog.EndDialog(kIdCancel); });
  EXPECT_EQ(dialog.RunModal(), kIdOk);
  worker.join();
  EXPECT_EQ(refused.load(), 0);
  ASSERT_EQ(seen.size(), static_cast<size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    ASSERT_EQ(seen[i].value, static_cast<std::uint32_t>(i)) << "out of order at " << i;
    EXPECT_EQ(seen[i].message, (i % 3 == 0) ? kSettingsRefresh : kDeviceInfo);
    EXPECT_EQ(seen[i].text, i % 2 == 0 ? "第" + std::to_string(i) + "行\r\n" : "<null>");
    EXPECT_TRUE(seen[i].mainThread);
  }
}

TEST(Notifications, OnlyTheExactCaptionOfAnExistingWindowIsFound) {
  WindowRegistry windows;
  DialogNotificationPoster poster{windows};
  EXPECT_FALSE(poster.HasWindow("Varnel"));
  EXPECT_FALSE(poster.Post("Varnel", WithText(kDeviceInfo, 0, "lost")));
  EXPECT_EQ(poster.InFlight(), 0);  // refused, and its text freed
  {
    // Windows of another registry (another program's, or another test's) are not found.
    WindowRegistry elsewhere;
    Dialog stranger(Captioned("Varnel"), nullptr, &elsewhere);
    ShowWindow(stranger);
    EXPECT_FALSE(poster.HasWindow("Varnel"));
    EXPECT_TRUE(DialogNotificationPoster(elsewhere).HasWindow("Varnel"));
  }

  // A dialog that exists but has not been run or shown is not a window yet.
  Dialog dialog(Captioned("Varnel"), nullptr, &windows);
  EXPECT_FALSE(poster.HasWindow("Varnel"));
  ShowWindow(dialog);
  EXPECT_TRUE(poster.HasWindow("Varnel"));
  EXPECT_FALSE(poster.HasWindow("varnel"));
  EXPECT_FALSE(poster.HasWindow("Varnel "));
  EXPECT_FALSE(poster.HasWindow("Varne"));
  EXPECT_FALSE(poster.Post("VARNEL", WithText(kDeviceInfo, 0, "x")));
  dialog.EndDialog(kIdCancel);
}

TEST(Notifications, ARenamedWindowIsNoLongerFoundByItsOldCaption) {
  WindowRegistry windows;
  DialogNotificationPoster poster{windows};
  Dialog dialog(Captioned("固件下载进度"), nullptr, &windows);
  std::vector<std::uint32_t> got;
  dialog.OnMessage(kProgress, [&](Notification& n) { got.push_back(n.wParam); });
  ShowWindow(dialog);
  ASSERT_TRUE(poster.Post("固件下载进度", Notification{kProgress, 0, 3, {}}));
  dialog.SetCaption("其他");
  EXPECT_FALSE(poster.HasWindow("固件下载进度"));
  EXPECT_FALSE(poster.Post("固件下载进度", Notification{kProgress, 1, 0, {}}));
  EXPECT_TRUE(poster.Post("其他", Notification{kProgress, 2, 0, {}}));
  ASSERT_TRUE(WaitUntil([&] { return got.size() == 2; }, 5s, ProcessEvents));
  EXPECT_EQ(got, (std::vector<std::uint32_t>{0, 2}));
  dialog.EndDialog(kIdCancel);
}

TEST(Notifications, TheNewestWindowWithACaptionGetsThePost) {
  WindowRegistry windows;
  DialogNotificationPoster poster{windows};
  auto older = std::make_unique<Dialog>(Captioned("Varnel"), nullptr, &windows);
  auto newer = std::make_unique<Dialog>(Captioned("Varnel"), nullptr, &windows);
  int olderGot = 0, newerGot = 0;
  older->OnMessage(kDeviceInfo, [&](Notification&) { ++olderGot; });
  newer->OnMessage(kDeviceInfo, [&](Notification&) { ++newerGot; });
  ShowWindow(*older);
  ShowWindow(*newer);
  ASSERT_TRUE(poster.Post("Varnel", Notification{kDeviceInfo, 5, 0, {}}));
  ASSERT_TRUE(WaitUntil([&] { return newerGot == 1; }, 5s, ProcessEvents));
  newer.reset();
  ASSERT_TRUE(poster.Post("Varnel", Notification{kDeviceInfo, 5, 0, {}}));
  ASSERT_TRUE(WaitUntil([&] { return olderGot == 1; }, 5s, ProcessEvents));
  older.reset();
  EXPECT_FALSE(poster.HasWindow("Varnel"));
}

TEST(Notifications, TextsOfUndeliveredNotificationsAreFreed) {
  WindowRegistry windows;
  DialogNotificationPoster poster{windows};
  int handled = 0;

  // The window is destroyed with notifications still queued for it.
  auto dialog = std::make_unique<Dialog>(Captioned("Varnel"), nullptr, &windows);
  dialog->OnMessage(kDeviceInfo, [&](Notification&) { ++handled; });
  ShowWindow(*dialog);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(poster.Post("Varnel", WithText(kDeviceInfo, 0, std::string(1000, 'x'))));
  }
  EXPECT_EQ(poster.InFlight(), 3);
  dialog.reset();
  EXPECT_EQ(poster.InFlight(), 0);
  ProcessEvents();
  EXPECT_EQ(handled, 0);

  // The window closes (its modal run ends) before they are delivered.
  Dialog ended(Captioned("Varnel"), nullptr, &windows);
  ended.OnMessage(kDeviceInfo, [&](Notification&) { ++handled; });
  ShowWindow(ended);
  ASSERT_TRUE(poster.Post("Varnel", WithText(kDeviceInfo, 0, "late")));
  ended.EndDialog(kIdCancel);
  EXPECT_FALSE(poster.Post("Varnel", WithText(kDeviceInfo, 0, "later")));
  ASSERT_TRUE(WaitUntil([&] { return poster.InFlight() == 0; }, 5s, ProcessEvents));
  EXPECT_EQ(handled, 0);

  // A message the window has no handler for is dropped with its text.
  Dialog plain(Captioned("Varnel"), nullptr, &windows);
  ShowWindow(plain);
  ASSERT_TRUE(poster.Post("Varnel", WithText(0x999, 0, "unknown")));
  ASSERT_TRUE(WaitUntil([&] { return poster.InFlight() == 0; }, 5s, ProcessEvents));
  plain.EndDialog(kIdCancel);
}

TEST(Notifications, WindowsComeAndGoWhileAWorkerPosts) {
  WindowRegistry windows;
  DialogNotificationPoster poster{windows};
  std::atomic<bool> stop{false};
  std::atomic<int> accepted{0};
  std::thread worker([&] {
    while (!stop.load()) {
      if (poster.Post("Varnel", WithText(kDeviceInfo, 0, "line\r\n"))) ++accepted;
    }
  });
  int handled = 0;
  // At least 200 windows, and on until the worker has reached some of them.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  for (int round = 0; round < 200 || (accepted.load() == 0 && std::chrono::steady_clock::now() < deadline);
       ++round) {
    auto dialog = std::make_unique<Dialog>(Captioned("Varnel"), nullptr, &windows);
    dialog->OnMessage(kDeviceInfo, [&](Notification& n) { handled += n.text.has_value() ? 1 : 0; });
    ShowWindow(*dialog);
    ProcessEvents();
    dialog.reset();
  }
  stop = true;
  worker.join();
  ProcessEvents();
  EXPECT_GT(accepted.load(), 0);
  EXPECT_LE(handled, accepted.load());
  EXPECT_EQ(poster.InFlight(), 0);
}

}  // namespace
