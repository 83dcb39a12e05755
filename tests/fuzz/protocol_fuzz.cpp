// Fuzz target for everything behind the receiver: the reply dispatcher, the
// identity chain, the reply handlers, the status replies and the firmware
// transfer, fed through a FrameReceiver whose handler is DispatchReply.
//
// Byte 0 of the input sets the scene:
//   bit 0  the main window is missing      bit 1  the progress window is missing
//   bit 2  a firmware download is under way, its image size taken from the next two bytes
//   bit 3  whole frames: the rest is a run of (code, length selector, payload)
//          records, each made into a well-formed frame, mostly with short payloads;
//          otherwise the rest is raw wire bytes.
//
// Invariants, checked after every delivered frame against a small model kept here:
//  - every frame sent is well formed (BB BB BB BB 01, length, crc) and carries a
//    code of the request table; a data reply sends at most one request, the one
//    the chain table gives, with an empty payload; a keep-alive reply sends nothing;
//  - nextQuery is always one of 0, 01, 02, 03, 10, 11, 12, 13, 30 and follows the model;
//  - each handler stores and posts exactly what its payload says, and nothing
//    for a payload shorter than its layout; texts fit the 128-byte line buffer;
//  - status replies show the four status texts and nothing else; without a
//    main window nothing is shown and nothing is sent;
//  - firmware requests: one description with the image's size and CRC, chunks
//    that cover the image in order with its own bytes and never run past it,
//    end and finish with their one zero byte; the progress posts match them;
//  - in frames mode, every frame fed is delivered.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "link/FrameReceiver.h"
#include "link/LinkFrame.h"
#include "link/TrafficDump.h"
#include "platform/Operator.h"
#include "protocol/DeviceSession.h"
#include "tests/protocol/Recorders.h"

namespace {

using namespace varnel;
using Bytes = std::vector<std::uint8_t>;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "protocol invariant broken: %s\n", what);
  std::abort();
}

// Our own copies of the texts and prefixes checked.
const std::string kFirmwarePrefix = "\xB9\xCC\xBC\xFE\xB0\xE6\xB1\xBE";
const std::string kHardwarePrefix = "\xD3\xB2\xBC\xFE\xB0\xE6\xB1\xBE";
const std::string kDevicePrefix = "\xC9\xE8\xB1\xB8";
const char* const kStatusTexts[] = {"设置成功", "无效指令", "内部错误", "校验失败"};
const std::string kNoMainWindow = "找不到CVarnelDlg对象";
const std::string kNoProgressWindow = "找不到CProgressDlg对象";

// Single-threaded stand-ins: nothing here runs off the fuzzing thread.
struct Poster final : NotificationPoster {
  bool mainWindow = true;
  bool progressWindow = true;
  std::vector<std::pair<std::string, Notification>> posted;
  bool Post(std::string_view caption, Notification n) override {
    if (!HasWindow(caption)) return false;
    posted.emplace_back(std::string(caption), std::move(n));
    return true;
  }
  bool HasWindow(std::string_view caption) override {
    return (caption == "Varnel" && mainWindow) || (caption == "固件下载进度" && progressWindow);
  }
};

struct Presenter final : MessagePresenter {
  std::vector<std::pair<std::string, std::string>> shown;  // text, caption
  MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons,
                     MessageOwner) override {
    shown.emplace_back(text, caption);
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  }
};

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool IsChainValue(std::uint8_t q) {
  return q == 0 || q == 0x01 || q == 0x02 || q == 0x03 || (q >= 0x10 && q <= 0x13) || q == 0x30;
}

// The chain: which query follows the reply of each chain code (-1: not a chain code).
int ChainNext(std::uint8_t command) {
  switch (command) {
    case 0x01: return 0x02;
    case 0x02: return 0x03;
    case 0x03: return 0x10;
    case 0x10: return 0x11;
    case 0x11: return 0x12;
    case 0x12: return 0x13;
    case 0x13: return 0x30;
    case 0x30: return 0;
    default: return -1;
  }
}

bool InRequestTable(std::uint8_t code) {
  static const std::uint8_t table[] = {0x01, 0x02, 0x03, 0x10, 0x11, 0x12, 0x13, 0x30, 0x7F, 0x90, 0x91,
                                       0x92, 0x93, 0xA0, 0xA1, 0xA2, 0xA3, 0xEF, 0xF0, 0xF1, 0xF2, 0xF3, 0xF4};
  for (std::uint8_t c : table)
    if (c == code) return true;
  return false;
}

void CheckWellFormed(const Bytes& f) {
  Require(f.size() >= 10, "request shorter than a frame");
  Require(f[0] == 0xBB && f[1] == 0xBB && f[2] == 0xBB && f[3] == 0xBB, "request preamble");
  Require(f[4] == 0x01, "request aux");
  Require(InRequestTable(f[5]), "request code outside the table");
  Require(static_cast<std::size_t>(f[6] | (f[7] << 8)) == f.size() - 10, "request length field");
  const std::uint16_t crc = Crc16(f.data(), f.size() - 2);
  Require(f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8), "request crc");
}

// What the firmware requests must look like, given the image.
struct TransferModel {
  bool started = false;
  Bytes image;
  std::uint32_t nextOffset = 0;
  int chunks = 0;
  int finishes = 0;

  void Check(const Bytes& f) {
    const std::uint8_t code = f[5];
    const std::uint8_t* p = f.data() + 8;
    const std::size_t n = f.size() - 10;
    Require(started, "firmware request without a download");
    switch (code) {
      case 0xF1: {
        Require(n == 12, "description length");
        const std::uint16_t crc = Crc16(image.data(), image.size());
        Require(Le32(p) == 0x00010000u && Le32(p + 4) == image.size() && Le32(p + 8) == crc, "description");
        break;
      }
      case 0xF2: {
        Require(n >= 8, "chunk header");
        const std::uint32_t offset = Le32(p);
        const std::uint32_t count = Le32(p + 4);
        Require(count == n - 8 && count >= 1 && count <= 248, "chunk count");
        Require(offset == nextOffset, "chunks out of order");
        Require(offset + count <= image.size(), "chunk past the image");
        Require(std::memcmp(p + 8, image.data() + offset, count) == 0, "chunk bytes differ from the image");
        nextOffset += count;
        ++chunks;
        break;
      }
      case 0xF3:
        Require(n == 1 && p[0] == 0 && nextOffset == image.size(), "end before the whole image");
        break;
      case 0xF4:
        Require(n == 1 && p[0] == 0, "finish payload");
        ++finishes;
        break;
      default:
        Require(false, "a reply led to a request that no reply leads to");
    }
  }
};

struct Scene {
  explicit Scene(MessagePresenter& boxes) : op{boxes, poster} { receiver.SetDumpEnabled(false); }

  test::RecordingSender sender;
  Poster poster;
  Operator op;
  FrameReceiver receiver;
  DeviceSession session{sender, receiver, [] {}, op};
  TransferModel transfer;
  std::uint8_t nextQuery = 0x01;  // the model of the chain
  std::size_t delivered = 0;
};

void CheckDataReply(Scene& s, Presenter& boxes, const LinkFrame& f, std::size_t sentBefore,
                    std::size_t postedBefore, std::size_t boxesBefore) {
  const std::uint8_t command = f.code & 0x7F;
  const std::uint8_t* p = f.payload;
  const std::size_t len = f.length;
  const std::size_t sent = s.sender.Count() - sentBefore;

  // The chain.
  if (command == 0x7F) {
    Require(sent == 0, "keep-alive reply sent something");
    Require(s.session.TakeKeepAliveAnswered(), "keep-alive reply not flagged");
  } else {
    const int next = ChainNext(command);
    if (next >= 0) s.nextQuery = static_cast<std::uint8_t>(next);
    if (s.nextQuery == 0) {
      Require(sent == 0, "a finished chain sent a query");
    } else {
      Require(sent == 1, "a data reply did not send exactly the pending query");
      const Bytes last = s.sender.Last();
      Require(last.size() == 10 && last[5] == s.nextQuery, "the query sent is not the chain's next");
    }
  }
  Require(IsChainValue(s.session.NextQuery()), "nextQuery outside the chain values");
  Require(s.session.NextQuery() == s.nextQuery, "nextQuery differs from the chain table");
  if (command == 0x30) Require(s.session.CardReadGate().Count() == 1, "card reply left the gate taken");

  // What the handler stores and posts.
  std::vector<Notification> expected;
  const SensorSettings& st = s.session.Settings();
  auto versionLine = [&](const std::string& prefix) {
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, " : V%d.%d.%d\r\n", p[1], p[2], p[3]);
    return prefix + numbers;
  };
  switch (command) {
    case 0x01:
      if (len >= 4) {
        expected.push_back(Notification{WM_DEVICE_INFO, 0xFFFFFFFFu, 0, std::nullopt});
        expected.push_back(Notification{WM_DEVICE_INFO, 0, 0, versionLine(kFirmwarePrefix)});
      }
      break;
    case 0x02:
      if (len >= 4) expected.push_back(Notification{WM_DEVICE_INFO, 0, 0, versionLine(kHardwarePrefix)});
      break;
    case 0x03:
      if (len >= 2) expected.push_back(Notification{WM_DEVICE_INFO, 0, 0, std::nullopt});  // text judged below
      break;
    case 0x10:
      if (len >= 1) {
        Require(st.serialNodeAddress.load() == p[0], "node address not stored");
        expected.push_back(Notification{WM_SETTINGS_REFRESH, 0, 0xFFFFFFFFu, std::nullopt});
      }
      break;
    case 0x11:
      if (len >= 1) {
        Require(st.serialBaudCode.load() == p[0], "baud code not stored");
        expected.push_back(Notification{WM_SETTINGS_REFRESH, 0, 0xFFFFFFFFu, std::nullopt});
      }
      break;
    case 0x12:
      if (len >= 5) {
        Require(st.canNodeId.load() == Le32(p) && st.canFrameType.load() == p[4], "CAN id not stored");
        expected.push_back(Notification{WM_SETTINGS_REFRESH, 0, 0xFFFFFFFFu, std::nullopt});
      }
      break;
    case 0x13:
      if (len >= 1) {
        Require(st.canRateCode.load() == p[0], "CAN rate not stored");
        expected.push_back(Notification{WM_SETTINGS_REFRESH, 0, 0xFFFFFFFFu, std::nullopt});
      }
      break;
    case 0x30:
      if (len >= 5) expected.push_back(Notification{WM_CARD_NUMBER, p[0], Le32(p + 1), std::nullopt});
      break;
    default:
      break;
  }

  const std::size_t posted = s.poster.posted.size() - postedBefore;
  const std::size_t shown = boxes.shown.size() - boxesBefore;
  if (!s.poster.mainWindow) {
    Require(posted == 0, "posted without a main window");
    Require(shown == expected.size(), "one missing-window box per notification");
    for (std::size_t i = boxesBefore; i < boxes.shown.size(); ++i)
      Require(boxes.shown[i].first == kNoMainWindow && boxes.shown[i].second == "警告", "missing-window box");
    return;
  }
  Require(shown == 0, "a data reply showed a box");
  Require(posted == expected.size(), "number of notifications");
  for (std::size_t i = 0; i < posted; ++i) {
    const auto& [caption, got] = s.poster.posted[postedBefore + i];
    const Notification& want = expected[i];
    Require(caption == "Varnel", "notification to the wrong window");
    Require(got.message == want.message && got.wParam == want.wParam && got.lParam == want.lParam,
            "notification values");
    if (command == 0x03) {
      // Head, then as much of the serial text (up to its zero) as fits, then CR LF.
      Require(got.text.has_value(), "serial line missing");
      const std::string& line = *got.text;
      char date[32];
      std::snprintf(date, sizeof date, " S/N : %02d-%02d-", p[0], p[1]);
      const std::string head = kDevicePrefix + date;
      const auto* text = reinterpret_cast<const char*>(p + 2);
      const std::string serial(text, strnlen(text, len - 2));
      Require(line.size() <= 127, "serial line longer than its buffer");
      Require(line.compare(0, head.size(), head) == 0, "serial line head");
      Require(line.size() >= head.size() + 2 && line.compare(line.size() - 2, 2, "\r\n") == 0, "serial line end");
      const std::string body = line.substr(head.size(), line.size() - head.size() - 2);
      Require(serial.compare(0, body.size(), body) == 0, "serial text altered");
      Require(body.size() == serial.size() || line.size() == 127, "serial text cut although it fitted");
    } else {
      Require(got.text == want.text, "identity line");
    }
  }
}

void CheckStatusReply(Scene& s, Presenter& boxes, const LinkFrame& f, std::size_t sentBefore,
                      std::size_t postedBefore, std::size_t boxesBefore) {
  const std::uint8_t command = f.code & 0x7F;
  const std::size_t sent = s.sender.Count() - sentBefore;
  const std::size_t shown = boxes.shown.size() - boxesBefore;
  Require(s.session.NextQuery() == s.nextQuery, "a status reply moved the chain");
  if (!s.poster.mainWindow) {
    Require(sent == 0 && shown == 0 && s.poster.posted.size() == postedBefore, "status reply without a main window");
    return;
  }
  if (command >= 0x70 && command <= 0x74) {
    Require(sent <= 1, "one firmware reply, more than one request");
    for (std::size_t i = postedBefore; i < s.poster.posted.size(); ++i)
      Require(s.poster.posted[i].second.message == WM_FW_PROGRESS, "firmware reply posted something else");
    for (std::size_t i = boxesBefore; i < boxes.shown.size(); ++i)
      Require(!s.poster.progressWindow && boxes.shown[i].first == kNoProgressWindow, "firmware reply box");
    return;
  }
  Require(sent == 0 && s.poster.posted.size() == postedBefore, "a status reply sent or posted");
  if (f.length >= 1 && f.payload[0] <= 3) {
    Require(shown == 1 && boxes.shown.back().first == kStatusTexts[f.payload[0]] &&
                boxes.shown.back().second == "提示",
            "status box");
  } else {
    Require(shown == 0, "a box for an unknown status");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Presenter boxes;
  boxes.shown.clear();
  if (size < 1) return 0;
  const std::uint8_t flags = data[0];
  ++data;
  --size;

  Scene s(boxes);
  s.poster.mainWindow = !(flags & 0x01);
  s.poster.progressWindow = !(flags & 0x02);

  if ((flags & 0x04) && size >= 2) {
    const std::uint32_t imageSize = 1 + ((data[0] | (data[1] << 8)) % 1500);
    Bytes image(imageSize);
    for (std::uint32_t i = 0; i < imageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + data[0]);
    data += 2;
    size -= 2;
    s.transfer.started = true;
    s.transfer.image = image;
    Require(s.session.Firmware().StartFirmwareDownload(std::move(image)) == FirmwareLoadResult::Ok, "download refused");
    Require(s.sender.Count() == 1 && s.sender.Last()[5] == 0xF0, "download did not begin with 0xF0");
    CheckWellFormed(s.sender.Last());
  }

  s.receiver.SetFrameHandler([&](const LinkFrame& f) {
    ++s.delivered;
    const std::size_t sentBefore = s.sender.Count();
    const std::size_t postedBefore = s.poster.posted.size();
    const std::size_t boxesBefore = boxes.shown.size();
    s.session.DispatchReply(f);
    if (s.sender.Count() > sentBefore) {
      const Bytes last = s.sender.Last();
      CheckWellFormed(last);
      if ((last[5] & 0xF8) == 0xF0) s.transfer.Check(last);
    }
    if (f.code & 0x80) {
      CheckStatusReply(s, boxes, f, sentBefore, postedBefore, boxesBefore);
    } else {
      CheckDataReply(s, boxes, f, sentBefore, postedBefore, boxesBefore);
    }
  });

  if (flags & 0x08) {
    std::size_t fed = 0;
    while (size >= 2) {
      LinkFrame frame;
      frame.code = data[0];
      const std::uint8_t selector = data[1];
      data += 2;
      size -= 2;
      frame.preamble = (selector & 0x40) ? 0xAAAAAAAAu : 0xBBBBBBBBu;
      frame.aux = selector;
      // Mostly the short payloads the layouts must guard against; now and then a long one.
      std::size_t length = (selector & 0x80) ? std::min<std::size_t>(size, kLinkMaxReceivedPayload) : selector % 9;
      length = std::min(length, size);
      std::memcpy(frame.payload, data, length);
      frame.length = static_cast<std::uint16_t>(length);
      data += length;
      size -= length;
      std::uint8_t wire[kLinkMaxWireFrame];
      s.receiver.Feed(wire, SerialiseFrame(frame, wire));
      ++fed;
    }
    Require(s.delivered == fed, "a well-formed frame was not delivered");
  } else {
    s.receiver.Feed(data, size);
  }

  // The progress the windows saw matches the requests that went out.
  if (s.transfer.started && s.poster.mainWindow && s.poster.progressWindow) {
    int totals = 0, steps = 0, dones = 0;
    for (const auto& [caption, n] : s.poster.posted) {
      if (n.message != WM_FW_PROGRESS) continue;
      Require(caption == "固件下载进度", "progress to the wrong window");
      if (n.wParam == PROGRESS_TOTAL) {
        ++totals;
        Require(n.lParam == (s.transfer.image.size() + 247) / 248, "announced chunk count");
      } else if (n.wParam == PROGRESS_STEP) {
        ++steps;
      } else {
        // The outcome of a finish request: done, or the sensor's refusal with its status.
        Require(n.wParam == PROGRESS_DONE || (n.wParam == PROGRESS_FAILED && n.lParam != 0), "progress code");
        ++dones;
      }
    }
    Require(totals <= 1, "chunk count announced twice");
    Require(steps == s.transfer.chunks, "one step per chunk");
    // The verdict comes with the answer to the finish request, once.
    // Whatever the replies, the exchange finishes once, and its verdict comes with the answer to that.
    Require(s.transfer.finishes <= 1, "finish requested twice");
    Require(dones <= s.transfer.finishes, "one verdict per transfer, after its finish request");
  }
  return 0;
}
