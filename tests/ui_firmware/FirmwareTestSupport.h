#pragma once
// Shared by the firmware dialog tests: image files, the progress window's
// texts as they change, and the simulator's request counters.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ui/ProgressDlg.h"

namespace varnel::test {

// The ids and texts the tests look at, copied here on purpose.
inline constexpr int kBarId = 1015;
inline constexpr int kCounterId = 1019;
inline constexpr int kRateLineId = 1020;
inline constexpr std::uint32_t kProgressMessage = 0x0400 + 100;
inline constexpr char kProgressCaption[] = "固件下载进度";
inline constexpr char kCannotLeave[] = "固件下载过程中不可退出";
inline constexpr char kSucceeded[] = "固件下载成功，请重启传感器";
inline constexpr char kStalledCounter[] = "无响应";
inline constexpr char kStalledLine[] = "传感器无响应，可关闭窗口";

inline std::vector<std::uint8_t> TestImage(std::size_t size, unsigned seed = 7) {
  std::vector<std::uint8_t> image(size);
  std::mt19937 random(seed);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  return image;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::uint64_t StatCount(const std::map<std::string, std::string>& stats, const std::string& key) {
  const auto it = stats.find(key);
  return it == stats.end() ? 0 : std::stoull(it->second);
}

// Records what the progress window shows after every notification it handles
// (several notifications can be handled between two looks from outside, so
// the window's own handler is wrapped). Install before the modal run.
struct ProgressRecorder {
  using Clock = std::chrono::steady_clock;
  struct RateChange {
    Clock::time_point at;  // when the handler that made the change had returned
    std::string text;
    Clock::time_point from;  // when that handler was called: the window read its clock in between
  };

  std::vector<std::string> counterTexts;  // each distinct text in order, the initial one first
  std::vector<RateChange> rateChanges;
  int lastBarPosition = -1;
  int lastBarMax = -1;

  void Attach(CProgressDlg& dlg) {
    counterTexts = {dlg.Control(kCounterId)->Text()};
    rateChanges.clear();
    rate_ = dlg.Control(kRateLineId) ? dlg.Control(kRateLineId)->Text() : std::string();
    dlg.OnMessage(kProgressMessage, [this, &dlg](Notification& n) {
      handlingFrom_ = Clock::now();
      dlg.OnProgress(n.wParam, n.lParam);
      Look(dlg);
    });
  }

  void Look(CProgressDlg& dlg) {
    if (DialogControl* counter = dlg.Control(kCounterId)) {
      const std::string text = counter->Text();
      if (counterTexts.empty() || counterTexts.back() != text) counterTexts.push_back(text);
    }
    if (DialogControl* line = dlg.Control(kRateLineId); line && line->Text() != rate_) {
      rate_ = line->Text();
      rateChanges.push_back({Clock::now(), rate_, handlingFrom_});
    }
    if (DialogControl* bar = dlg.Control(kBarId)) {
      lastBarPosition = bar->Position();
      lastBarMax = bar->RangeMax();
    }
  }

 private:
  std::string rate_;
  Clock::time_point handlingFrom_;
};

}  // namespace varnel::test
