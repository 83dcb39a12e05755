#pragma once
// What the simulated sensor really holds in the fault tests, and a poster that
// checks every notification against it at the moment it is posted.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Notifications.h"
#include "protocol/SensorSettings.h"
#include "sim/SimSensor.h"
#include "tests/protocol/Recorders.h"

namespace varnel::test {

// Values chosen apart from the simulator's defaults and from zero, so a reply
// taken from the wrong frame or a stale buffer cannot pass for the truth.
struct SensorTruth {
  std::uint8_t nodeAddress = 0x5C;
  std::uint8_t baudCode = 2;
  std::uint32_t canId = 0x0ABCDE0;
  std::uint8_t frameType = 1;
  std::uint8_t canRateCode = 4;
  std::uint8_t cardStatus = 1;
  std::uint32_t cardNumber = 0x80C0FFEEu;  // top bit set: posted unchanged

  // The three identity lines, GBK, as the windows must receive them.
  static std::string Gbk(std::initializer_list<std::uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }
  std::string firmwareLine = Gbk({0xB9, 0xCC, 0xBC, 0xFE, 0xB0, 0xE6, 0xB1, 0xBE}) + " : V3.14.15\r\n";
  std::string hardwareLine = Gbk({0xD3, 0xB2, 0xBC, 0xFE, 0xB0, 0xE6, 0xB1, 0xBE}) + " : V9.2.6\r\n";
  std::string serialLine = Gbk({0xC9, 0xE8, 0xB1, 0xB8}) + " S/N : 23-11-FLT-77\r\n";

  void ApplyTo(sim::SimSensor& s) const {
    sim::SensorConfig& c = s.model().running();
    c.nodeAddress = nodeAddress;
    c.baudCode = baudCode;
    c.canId = canId;
    c.frameType = frameType;
    c.canRateCode = canRateCode;
    s.model().identity().firmware = sim::Version{7, 3, 14, 15};
    s.model().identity().hardware = sim::Version{7, 9, 2, 6};
    s.model().identity().serial = sim::SerialNumber{23, 11, "FLT-77"};
    s.model().SetCard(sim::CardScript::Fixed(cardStatus, cardNumber));
  }
};

// Forwards to a RecordingPoster (for waiting and listing) and judges each
// notification on the posting thread, where the settings it refers to have
// just been written.
class TruthCheckingPoster final : public NotificationPoster {
 public:
  explicit TruthCheckingPoster(const SensorTruth& truth) : truth_(truth) {}

  // The settings record the session writes; set before the first reply.
  void Watch(const SensorSettings* settings) { settings_.store(settings); }

  bool Post(std::string_view caption, Notification n) override {
    Judge(n);
    return recorded.Post(caption, std::move(n));
  }
  bool HasWindow(std::string_view caption) override { return recorded.HasWindow(caption); }

  std::vector<std::string> Wrong() const {
    std::lock_guard lock(mutex_);
    return wrong_;
  }
  std::set<std::string> LinesShown() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  std::size_t CardsShown() const { return cards_.load(); }
  std::size_t SettingsRefreshes() const { return refreshes_.load(); }
  std::size_t Total() const { return total_.load(); }

  RecordingPoster recorded;

 private:
  void Judge(const Notification& n) {
    total_.fetch_add(1);
    std::lock_guard lock(mutex_);
    switch (n.message) {
      case WM_DEVICE_INFO:
        if (n.wParam == ToParam(DeviceInfoOp::Clear)) break;
        if (!n.text) {
          wrong_.push_back("device-info append without text");
        } else if (*n.text != truth_.firmwareLine && *n.text != truth_.hardwareLine &&
                   *n.text != truth_.serialLine) {
          wrong_.push_back("device-info line '" + *n.text + "'");
        } else {
          lines_.insert(*n.text);
        }
        break;
      case WM_SETTINGS_REFRESH: {
        refreshes_.fetch_add(1);
        const SensorSettings* s = settings_.load();
        if (!s) break;
        // A field is either still untouched (0) or the sensor's own value.
        auto check = [&](const char* name, std::uint32_t value, std::uint32_t truth) {
          if (value != 0 && value != truth)
            wrong_.push_back(std::string(name) + " " + std::to_string(value) + ", sensor has " + std::to_string(truth));
        };
        check("node address", s->serialNodeAddress.load(), truth_.nodeAddress);
        check("baud code", s->serialBaudCode.load(), truth_.baudCode);
        check("CAN id", s->canNodeId.load(), truth_.canId);
        check("frame type", s->canFrameType.load(), truth_.frameType);
        check("CAN rate", s->canRateCode.load(), truth_.canRateCode);
        break;
      }
      case WM_CARD_NUMBER:
        if (n.wParam != truth_.cardStatus || n.lParam != truth_.cardNumber) {
          wrong_.push_back("card " + std::to_string(n.wParam) + "/" + std::to_string(n.lParam));
        } else {
          cards_.fetch_add(1);
        }
        break;
      default:
        wrong_.push_back("unexpected notification " + std::to_string(n.message));
        break;
    }
  }

  const SensorTruth& truth_;
  std::atomic<const SensorSettings*> settings_{nullptr};  // set by the test thread, read on the reader thread
  mutable std::mutex mutex_;
  std::vector<std::string> wrong_;  // guarded by mutex_
  std::set<std::string> lines_;     // guarded by mutex_
  std::atomic<std::size_t> cards_{0};
  std::atomic<std::size_t> refreshes_{0};
  std::atomic<std::size_t> total_{0};
};

}  // namespace varnel::test
