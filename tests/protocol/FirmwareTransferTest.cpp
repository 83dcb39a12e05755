// The firmware exchange driven reply by reply: chunks, diagnostic lines,
// progress notifications, replies that answer no request, time-outs on a
// clock of the test's own, refused images and abandoning a transfer.
#include "protocol/FirmwareTransfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/protocol/Recorders.h"
#include "tests/support/TrafficCapture.h"

namespace varnel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace fs = std::filesystem;

struct Chunk {
  std::uint32_t offset;
  std::uint32_t length;
  bool operator==(const Chunk&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Chunk& c) {
  return os << "(" << c.offset << ", " << c.length << ")";
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

Bytes Pattern(std::size_t size) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return image;
}

class Firmware : public ::testing::Test {
 protected:
  Firmware() { transfer.SetDiagnosticSink(&diagnostics); }

  // The sensor answers the last request with this status.
  void Answer(std::uint8_t status = 0) { transfer.OnOtaReply(Reply(sender.Last().at(5), {status})); }

  // Answers every request until the reply to 0xF4 has been handled.
  void RunToEnd(std::uint8_t status = 0) {
    for (int guard = 0; guard < 1000; ++guard) {
      const std::uint8_t code = sender.Last().at(5);
      Answer(status);
      if (code == 0xF4) return;
    }
    FAIL() << "the exchange did not end";
  }

  std::vector<Chunk> Chunks() const {
    std::vector<Chunk> chunks;
    for (const Bytes& f : sender.Frames()) {
      if (f[5] != 0xF2) continue;
      const std::uint32_t n = Le32(f, 12);
      EXPECT_EQ(f[6] | f[7] << 8, static_cast<int>(8 + n));
      chunks.push_back(Chunk{Le32(f, 8), n});
    }
    return chunks;
  }

  // The image as the chunks carried it.
  Bytes Reassembled() const {
    Bytes image;
    for (const Bytes& f : sender.Frames()) {
      if (f[5] != 0xF2) continue;
      const std::uint32_t offset = Le32(f, 8), n = Le32(f, 12);
      if (image.size() < offset + n) image.resize(offset + n);
      std::copy(f.begin() + 16, f.begin() + 16 + n, image.begin() + offset);
    }
    return image;
  }

  std::string Lines() const { return diagnostics.Text(); }

  // Progress as (wParam, lParam) pairs, all to the progress dialog.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Progress() const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> progress;
    for (const Posted& p : poster.All()) {
      EXPECT_EQ(p.caption, "固件下载进度");
      EXPECT_EQ(p.notification.message, 0x464u);
      progress.emplace_back(p.notification.wParam, p.notification.lParam);
    }
    return progress;
  }

  RecordingSender sender;
  RecordingPoster poster;
  RecordingPresenter boxes;
  Operator op{boxes, poster};
  FirmwareTransfer transfer{sender, op};
  test::TrafficCapture diagnostics;
};

struct SizeCase {
  std::size_t size;
  std::vector<Chunk> chunks;
  std::string lines;
};

TEST_F(Firmware, ImagesOfEverySizeClass) {
  const SizeCase cases[] = {
      {1, {{0, 1}}, "too small, last Ota file chunk 0\n"},
      {247, {{0, 247}}, "too small, last Ota file chunk 0\n"},
      {248, {{0, 248}}, "too small, last Ota file chunk 0\n"},
      {249, {{0, 248}, {248, 1}}, "start first Ota file chunk 0\nlast Ota file chunk 1\n"},
      {496, {{0, 248}, {248, 248}}, "start first Ota file chunk 0\nlast Ota file chunk 1\n"},
      {600, {{0, 248}, {248, 248}, {496, 104}},
       "start first Ota file chunk 0\nOta file chunk 1\nlast Ota file chunk 2\n"},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.size);
    RecordingSender& s = sender;
    s.Clear();
    poster.Clear();
    const std::string before = Lines();
    const Bytes image = Pattern(c.size);
    ASSERT_EQ(transfer.StartFirmwareDownload(image), FirmwareLoadResult::Ok);
    RunToEnd();

    std::vector<std::uint8_t> codes = {0xF0, 0xF1};
    codes.insert(codes.end(), c.chunks.size(), 0xF2);
    codes.push_back(0xF3);
    codes.push_back(0xF4);
    EXPECT_EQ(s.Codes(), codes);
    EXPECT_EQ(Chunks(), c.chunks);
    EXPECT_EQ(Reassembled(), image);
    EXPECT_EQ(Lines().substr(before.size()), c.lines);

    const Bytes info = s.Frames().at(1);
    EXPECT_EQ(Le32(info, 8), 0x00010000u);
    EXPECT_EQ(Le32(info, 12), c.size);
    EXPECT_EQ(Le32(info, 16), Crc16(image.data(), image.size()));

    std::vector<std::pair<std::uint32_t, std::uint32_t>> progress = {{0, c.chunks.size()}};
    progress.insert(progress.end(), c.chunks.size(), {1, 0});
    progress.push_back({2, 0});
    EXPECT_EQ(Progress(), progress);
    EXPECT_EQ(transfer.State().stage, OtaStage::Idle);
    EXPECT_FALSE(transfer.State().Active());
  }
  EXPECT_THAT(boxes.Boxes(), IsEmpty());
}

TEST_F(Firmware, AbcFromAFileGivesTheExactFrames) {
  const fs::path path = fs::temp_directory_path() / "varnel_protocol_Rfid_abc.bin";
  std::ofstream(path, std::ios::binary) << "abc";
  ASSERT_EQ(transfer.StartFirmwareDownload(path), FirmwareLoadResult::Ok);
  Answer();
  Answer();
  fs::remove(path);
  EXPECT_THAT(sender.Frames(),
              ElementsAre(Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xF0, 0x01, 0x00, 0x00, 0x49, 0x80},
                          Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xF1, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03,
                                0x00, 0x00, 0x00, 0x49, 0x57, 0x00, 0x00, 0x07, 0x24},
                          Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xF2, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03,
                                0x00, 0x00, 0x00, 0x61, 0x62, 0x63, 0xA3, 0x62}));
  // The reply to the only chunk leads straight to the end of image.
  Answer();
  EXPECT_EQ(sender.Last()[5], 0xF3);
}

TEST_F(Firmware, FailureStatusStillAdvancesButARefusedImageIsNotASuccess) {
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(600)), FirmwareLoadResult::Ok);
  RunToEnd(3);  // every reply says "校验失败"
  EXPECT_EQ(Chunks(), (std::vector<Chunk>{{0, 248}, {248, 248}, {496, 104}}));
  EXPECT_EQ(transfer.State().stage, OtaStage::Idle);
  // The end-of-image reply is the sensor's verdict: reported as a failure with its status.
  using P = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(Progress(), (std::vector<P>{{0, 3}, {1, 0}, {1, 0}, {1, 0}, {3, 3}}));
}

TEST_F(Firmware, OnlyTheEndOfImageStatusDecidesTheOutcome) {
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(300)), FirmwareLoadResult::Ok);
  Answer(3);  // F0
  Answer(2);  // F1 -> first chunk
  Answer(3);  // first chunk -> last chunk
  Answer(1);  // last chunk -> F3
  Answer(0);  // F3 accepted -> F4
  ASSERT_EQ(sender.Last()[5], 0xF4);
  Answer(0);
  using P = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(Progress(), (std::vector<P>{{0, 2}, {1, 0}, {1, 0}, {2, 0}}));
}

TEST_F(Firmware, OnlyTheAnswerToTheRequestOutstandingMovesTheExchange) {
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(600)), FirmwareLoadResult::Ok);
  for (int guard = 0; guard < 20; ++guard) {
    const std::uint8_t outstanding = sender.Last().at(5);
    const std::size_t sent = sender.Count();
    // Every other firmware reply now is unrequested or late: nothing may follow from it.
    for (std::uint8_t code = 0xF0; code <= 0xF4; ++code)
      if (code != outstanding) transfer.OnOtaReply(Reply(code, {0}));
    ASSERT_EQ(sender.Count(), sent) << "after a stray reply while 0x" << std::hex << int(outstanding) << " was out";
    Answer();
    if (outstanding == 0xF4) break;
  }
  // A repeated answer to the finish and a late one to the end of image: no second verdict.
  transfer.OnOtaReply(Reply(0xF4, {0}));
  transfer.OnOtaReply(Reply(0xF3, {3}));
  EXPECT_EQ(sender.Codes(), (std::vector<std::uint8_t>{0xF0, 0xF1, 0xF2, 0xF2, 0xF2, 0xF3, 0xF4}));
  using P = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(Progress(), (std::vector<P>{{0, 3}, {1, 0}, {1, 0}, {1, 0}, {2, 0}}));
  EXPECT_FALSE(transfer.State().Active());
}

TEST_F(Firmware, TheVerdictWaitsForTheFinishAnswerAndCarriesItsStatus) {
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(3)), FirmwareLoadResult::Ok);
  for (int i = 0; i < 4; ++i) Answer();  // F0, F1, the chunk, F3: the finish request is out
  ASSERT_EQ(sender.Last()[5], 0xF4);
  EXPECT_EQ(Progress().back(), (std::pair<std::uint32_t, std::uint32_t>{1, 0})) << "a verdict before the sensor's";
  Answer(2);  // the sensor could not finish: "内部错误"
  EXPECT_EQ(Progress().back(), (std::pair<std::uint32_t, std::uint32_t>{3, 2}));
}

TEST_F(Firmware, ASlowStepStallsWithoutEndingAndTheImageCheckHasItsOwnPatience) {
  std::atomic<std::int64_t> ms{0};  // the test's clock; the watchdog thread reads it too
  transfer.SetClock([&] { return FirmwareTransfer::Clock::time_point(std::chrono::milliseconds(ms.load())); });
  auto wait = [&](std::int64_t more) {
    ms += more;
    transfer.CheckTimeouts();
  };
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(600)), FirmwareLoadResult::Ok);
  Answer();  // the image description is out; the sensor erases for 12 s
  wait(12000);
  EXPECT_TRUE(transfer.State().stalled);
  EXPECT_EQ(transfer.State().waiting, 12000ms);
  Answer();  // and answers: the first chunk
  EXPECT_FALSE(transfer.State().stalled);
  Answer();
  Answer();  // the last chunk is out
  wait(12000);
  EXPECT_FALSE(transfer.State().stalled) << "past the last chunk only the longer patience counts";
  Answer();  // the end of image is out: the sensor checks it
  wait(29000);
  Answer();  // the finish
  wait(29000);
  EXPECT_TRUE(transfer.State().Active());
  Answer();
  EXPECT_EQ(Progress().back(), (std::pair<std::uint32_t, std::uint32_t>{2, 0}));

  // Another download whose image check is never answered: one verdict, then nothing.
  poster.Clear();
  sender.Clear();
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(3)), FirmwareLoadResult::Ok);
  for (int i = 0; i < 3; ++i) Answer();  // F0, F1, the chunk: F3 is out
  wait(29999);
  EXPECT_TRUE(transfer.State().Active());
  wait(1);
  EXPECT_FALSE(transfer.State().Active());
  Answer();  // a late answer to the end of image
  wait(60000);
  EXPECT_EQ(sender.Codes(), (std::vector<std::uint8_t>{0xF0, 0xF1, 0xF2, 0xF3}));
  using P = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(Progress(), (std::vector<P>{{0, 1}, {1, 0}, {4, 0}}));
}

TEST_F(Firmware, AVerdictGoesToTheWindowItWasRedirectedToExactlyOnce) {
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(3)), FirmwareLoadResult::Ok);
  Answer();
  Answer();  // the only chunk is out: the progress window closes
  EXPECT_EQ(transfer.RedirectVerdict("Varnel"), std::nullopt);
  RunToEnd();
  ASSERT_FALSE(poster.All().empty());
  EXPECT_EQ(poster.All().back().caption, "Varnel");
  EXPECT_EQ(poster.All().back().notification.wParam, 2u);

  // A window that closes with the verdict already on its way to it gets the verdict to show.
  poster.Clear();
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(3)), FirmwareLoadResult::Ok);
  RunToEnd(3);
  EXPECT_EQ(poster.All().back().caption, "固件下载进度");
  EXPECT_EQ(transfer.RedirectVerdict("Varnel"), (FirmwareVerdict{FirmwareOutcome::Refused, 3}));
}

TEST_F(Firmware, SecondDownloadAfterACompleteOne) {
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(600)), FirmwareLoadResult::Ok);
  RunToEnd();
  const auto first = sender.Frames();
  const auto firstProgress = Progress();
  sender.Clear();
  poster.Clear();
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(600)), FirmwareLoadResult::Ok);
  RunToEnd();
  EXPECT_EQ(sender.Frames(), first);
  EXPECT_EQ(Progress(), firstProgress);
  EXPECT_EQ(Lines(), "start first Ota file chunk 0\nOta file chunk 1\nlast Ota file chunk 2\n"
                     "start first Ota file chunk 0\nOta file chunk 1\nlast Ota file chunk 2\n");
}

TEST_F(Firmware, LateRepliesOfTheExchangeBeforeDoNotDisturbANewDownload) {
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(3)), FirmwareLoadResult::Ok);
  for (int i = 0; i < 4; ++i) Answer();  // F0, F1, the chunk, F3: the finish request is out
  ASSERT_EQ(sender.Last()[5], 0xF4);
  sender.Clear();
  poster.Clear();
  // The operator starts again before the sensor has answered the finish request.
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(600)), FirmwareLoadResult::Ok);
  EXPECT_THAT(poster.All(), IsEmpty()) << "the download replaced is given up without a verdict";
  transfer.OnOtaReply(Reply(0xF4, {0}));  // the late answer to the first download
  transfer.OnOtaReply(Reply(0xF2, {0}));
  EXPECT_EQ(sender.Codes(), (std::vector<std::uint8_t>{0xF0}));
  EXPECT_TRUE(transfer.State().Active());
  RunToEnd();
  EXPECT_EQ(Chunks(), (std::vector<Chunk>{{0, 248}, {248, 248}, {496, 104}}));
  EXPECT_EQ(Progress().back(), (std::pair<std::uint32_t, std::uint32_t>{2, 0}));
}

TEST_F(Firmware, DownloadAfterAnInterruptedOne) {
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(1000)), FirmwareLoadResult::Ok);
  Answer();
  Answer();
  Answer();  // two chunks out, then the sensor falls silent
  ASSERT_EQ(transfer.State().stage, OtaStage::Chunk);
  sender.Clear();
  poster.Clear();
  const Bytes image = Pattern(600);
  ASSERT_EQ(transfer.StartFirmwareDownload(image), FirmwareLoadResult::Ok);
  RunToEnd();
  EXPECT_EQ(Chunks(), (std::vector<Chunk>{{0, 248}, {248, 248}, {496, 104}}));
  EXPECT_EQ(Reassembled(), image);
  EXPECT_EQ(Le32(sender.Frames().at(1), 12), 600u);
  EXPECT_EQ(Progress().front(), (std::pair<std::uint32_t, std::uint32_t>{0, 3}));
}

TEST_F(Firmware, RefusedImagesSendNothing) {
  const fs::path dir = fs::temp_directory_path() / "varnel_protocol_fw_dir";
  fs::create_directories(dir);
  const fs::path empty = dir / "Rfid_empty.bin";
  std::ofstream(empty, std::ios::binary).close();
  EXPECT_EQ(transfer.StartFirmwareDownload(dir / "missing_Rfid.bin"), FirmwareLoadResult::CannotOpen);
  EXPECT_EQ(transfer.StartFirmwareDownload(dir), FirmwareLoadResult::IsDirectory);
  EXPECT_EQ(transfer.StartFirmwareDownload(empty), FirmwareLoadResult::Empty);
  EXPECT_EQ(transfer.StartFirmwareDownload(Bytes{}), FirmwareLoadResult::Empty);
  fs::remove_all(dir);
  EXPECT_THAT(sender.Frames(), IsEmpty());
  EXPECT_FALSE(transfer.State().Active());
  // No transfer: a stray reply sends nothing either.
  transfer.OnOtaReply(Reply(0xF0, {0}));
  EXPECT_THAT(sender.Frames(), IsEmpty());
  EXPECT_THAT(poster.All(), IsEmpty());
}

TEST(FirmwareLimits, SizesTheProgressBarAndTheWireCanCarry) {
  EXPECT_EQ(CheckFirmwareImageSize(0), FirmwareLoadResult::Empty);
  EXPECT_EQ(CheckFirmwareImageSize(1), FirmwareLoadResult::Ok);
  EXPECT_EQ(CheckFirmwareImageSize(65535ull * 248), FirmwareLoadResult::Ok);
  EXPECT_EQ(CheckFirmwareImageSize(65535ull * 248 + 1), FirmwareLoadResult::TooLarge);
  EXPECT_EQ(CheckFirmwareImageSize(0x100000000ull), FirmwareLoadResult::TooLarge);
  EXPECT_EQ(CheckFirmwareImageSize(0x100000000ull + 100), FirmwareLoadResult::TooLarge);
  EXPECT_EQ(OtaChunkCount(248), 1u);
  EXPECT_EQ(OtaChunkCount(249), 2u);
  EXPECT_EQ(OtaChunkCount(65536), 265u);
}

TEST(FirmwareVerdicts, EachPostedOutcomeTravelsAsItsOwnProgressStep) {
  for (const FirmwareVerdict v : {FirmwareVerdict{FirmwareOutcome::Done, 0}, FirmwareVerdict{FirmwareOutcome::Refused, 3},
                                  FirmwareVerdict{FirmwareOutcome::Refused, 300},
                                  FirmwareVerdict{FirmwareOutcome::NoAnswer, 0}})
    EXPECT_EQ(VerdictOfProgress(ProgressStepOf(v.outcome), v.status), v);
  EXPECT_EQ(ProgressStepOf(FirmwareOutcome::Done), 2u);
  EXPECT_EQ(ProgressStepOf(FirmwareOutcome::Refused), 3u);
  EXPECT_EQ(ProgressStepOf(FirmwareOutcome::NoAnswer), 4u);
  for (std::uint32_t notAVerdict : {0u, 1u, 5u, 0xFFFFFFFFu})
    EXPECT_EQ(VerdictOfProgress(notAVerdict, 7), std::nullopt) << notAVerdict;
}

TEST_F(Firmware, AbandonThenStrayRepliesSendNothing) {
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(600)), FirmwareLoadResult::Ok);
  Answer();
  Answer();  // F0, F1, first chunk
  const std::size_t sent = sender.Count();
  const std::size_t posted = poster.All().size();
  transfer.AbandonFirmwareTransfer();
  for (std::uint8_t code : {0xF0, 0xF1, 0xF2, 0xF3, 0xF4}) transfer.OnOtaReply(Reply(code, {0}));
  EXPECT_EQ(sender.Count(), sent);
  EXPECT_EQ(poster.All().size(), posted);
  EXPECT_FALSE(transfer.State().Active());
  EXPECT_EQ(transfer.State().imageSize, 0u) << "the abandoned image is released";
  EXPECT_EQ(transfer.State().ending, (FirmwareVerdict{FirmwareOutcome::Abandoned, 0}));
  // A new download after abandoning runs whole.
  sender.Clear();
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(249)), FirmwareLoadResult::Ok);
  RunToEnd();
  EXPECT_EQ(Chunks(), (std::vector<Chunk>{{0, 248}, {248, 1}}));
}

TEST_F(Firmware, AbandonWhileRepliesArriveStopsAtOnce) {
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(248 * 2000)), FirmwareLoadResult::Ok);
  Answer();
  Answer();
  std::atomic<bool> stop{false};
  std::atomic<bool> abandoned{false};
  std::atomic<std::uint64_t> replies{0};
  std::thread reader([&] {  // a sensor that answers every chunk at once
    while (!stop.load()) {
      // Halfway it waits for the abandon, so a test thread held up on a busy
      // machine still abandons a transfer under way, not one that has ended.
      if (replies.load() >= 1000 && !abandoned.load()) {
        std::this_thread::yield();
        continue;
      }
      transfer.OnOtaReply(Reply(0xF2, {0}));
      replies.fetch_add(1);
    }
  });
  ASSERT_TRUE(sender.WaitForCount(10, 5s));
  transfer.AbandonFirmwareTransfer();
  abandoned.store(true);
  const std::size_t sent = sender.Count();
  const std::uint64_t seen = replies.load();
  while (replies.load() < seen + 100) std::this_thread::yield();
  stop.store(true);
  reader.join();
  EXPECT_EQ(sender.Count(), sent);
  EXPECT_LT(sent, 2000u + 2u);
}

TEST_F(Firmware, NoProgressWindowTheExchangeGoesOn) {
  poster.SetWindows({"Varnel"});
  ASSERT_EQ(transfer.StartFirmwareDownload(Pattern(600)), FirmwareLoadResult::Ok);
  RunToEnd();
  EXPECT_EQ(Chunks().size(), 3u);
  const auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 5u);  // total, three steps, done
  for (const Shown& s : shown) {
    EXPECT_EQ(s.text, "找不到CProgressDlg对象");
    EXPECT_EQ(s.caption, "警告");
    EXPECT_EQ(s.buttons, MessageButtons::Ok);
    EXPECT_EQ(s.owner, MessageOwner::None);
  }
}

}  // namespace
}  // namespace varnel::test
