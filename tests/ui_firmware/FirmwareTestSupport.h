#pragma once
// Shared by the firmware dialog tests: image files, the progress window's
// texts as they change, and the simulator's request counters.
#include <QTest>
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

// How many frames with this command byte the simulator received, from the
// "codes=30:5,7F:3,F0:1" field of its stats line.
inline std::uint64_t CodeCount(const std::map<std::string, std::string>& stats, std::uint8_t code) {
  const auto it = stats.find("codes");
  if (it == stats.end()) return 0;
  char key[8];
  std::snprintf(key, sizeof key, "%02X:", code);
  const std::string& codes = it->second;
  for (std::size_t at = 0; at < codes.size();) {
    const std::size_t end = std::min(codes.find(',', at), codes.size());
    if (codes.compare(at, 3, key) == 0) return std::stoull(codes.substr(at + 3, end - at - 3));
    at = end + 1;
  }
  return 0;
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
