// The sensor's side of the firmware exchange, driven through its byte input by
// a host written here from the exchange's table: begin, file information,
// chunks of at most 248 bytes, end, finish.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <utility>

#include "sim/SimSensor.h"
#include "tests/sim/SimTestSupport.h"

namespace varnel::sim::test {
namespace {

void PutU32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes MakeImage(std::size_t size) {
  Bytes image(size);
  std::uint32_t x = 0x9E3779B9u ^ static_cast<std::uint32_t>(size);
  for (auto& b : image) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return image;
}

// Which chunk ends the image when its size is a multiple of 248.
enum class LastChunk {
  Exact,        // the chunk that brings the remaining bytes to zero
  EmptyTrailer  // one more chunk of no bytes at offset == size
};

struct Transfer {
  std::vector<std::pair<std::uint8_t, std::uint8_t>> replies;  // (code, status), in order
  std::vector<std::pair<std::uint32_t, std::uint32_t>> chunks; // (offset, length)
};

class FirmwareExchangeTest : public ::testing::Test {
 protected:
  // Sends one request as wire bytes and answers the single status reply.
  std::pair<std::uint8_t, std::uint8_t> Send(const Bytes& wire) {
    const HostView view = ReadAsHost(Concat(sensor_.Feed(wire.data(), wire.size(), clock_.now)));
    EXPECT_EQ(view.frames.size(), 1u);
    if (view.frames.size() != 1 || view.frames[0].payload.size() != 1) return {0, 0xEE};
    return {view.frames[0].code, view.frames[0].payload[0]};
  }
  std::pair<std::uint8_t, std::uint8_t> Send(std::uint8_t code, const Bytes& payload) {
    return Send(Wire(Request(code, payload)));
  }

  Transfer Run(const Bytes& image, LastChunk last, std::uint32_t announcedCrc) {
    Transfer t;
    t.replies.push_back(Send(0xF0, {0x00}));
    Bytes info = {0x00, 0x00, 0x01, 0x00};
    PutU32(info, static_cast<std::uint32_t>(image.size()));
    PutU32(info, announcedCrc);
    t.replies.push_back(Send(0xF1, info));
    std::uint32_t offset = 0;
    for (;;) {
      const std::uint32_t remaining = static_cast<std::uint32_t>(image.size()) - offset;
      const std::uint32_t n = remaining < 248 ? remaining : 248;
      Bytes chunk;
      PutU32(chunk, offset);
      PutU32(chunk, n);
      chunk.insert(chunk.end(), image.begin() + offset, image.begin() + offset + n);
      t.chunks.emplace_back(offset, n);
      t.replies.push_back(Send(0xF2, chunk));
      offset += n;
      const bool done = n < 248 || (last == LastChunk::Exact && offset == image.size());
      if (done) break;
    }
    t.replies.push_back(Send(0xF3, {0x00}));
    t.replies.push_back(Send(0xF4, {0x00}));
    return t;
  }
  Transfer Run(const Bytes& image, LastChunk last = LastChunk::Exact) {
    return Run(image, last, Crc16(image.data(), image.size()));
  }

  ManualClock clock_;
  SimSensor sensor_{clock_.Get()};
};

void ExpectAllAccepted(const Transfer& t) {
  ASSERT_GE(t.replies.size(), 5u);
  const std::uint8_t expectedCodes[] = {0xF0, 0xF1};
  for (std::size_t i = 0; i < t.replies.size(); ++i) {
    std::uint8_t code = i < 2 ? expectedCodes[i] : 0xF2;
    if (i == t.replies.size() - 2) code = 0xF3;
    if (i == t.replies.size() - 1) code = 0xF4;
    EXPECT_EQ(t.replies[i].first, code) << "reply " << i;
    EXPECT_EQ(t.replies[i].second, 0) << "reply " << i;
  }
}

class ImageSizes : public FirmwareExchangeTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ImageSizes, TheImageArrivesIntact) {
  const Bytes image = MakeImage(GetParam());
  for (LastChunk last : {LastChunk::Exact, LastChunk::EmptyTrailer}) {
    const Transfer t = Run(image, last);
    ExpectAllAccepted(t);
    EXPECT_EQ(sensor_.model().firmware().verifiedImage(), image);
    EXPECT_EQ(sensor_.model().firmware().phase(), FirmwareSink::Phase::Idle) << "finished";
  }
  EXPECT_EQ(sensor_.model().firmware().finishedCount(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ImageSizes, ::testing::Values(1, 247, 248, 249, 496, 600, 65536));

TEST_F(FirmwareExchangeTest, ChunksOfA600ByteImage) {
  const Transfer t = Run(MakeImage(600));
  using C = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(t.chunks, (std::vector<C>{{0, 248}, {248, 248}, {496, 104}}));
}

TEST_F(FirmwareExchangeTest, AnEmptyChunkAtTheEndOfAnExactImageIsAccepted) {
  const Transfer t = Run(MakeImage(496), LastChunk::EmptyTrailer);
  using C = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(t.chunks, (std::vector<C>{{0, 248}, {248, 248}, {496, 0}}));
  ExpectAllAccepted(t);
}

TEST_F(FirmwareExchangeTest, TheWorkedFramesOfAThreeByteImage) {
  const Bytes begin = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xF0, 0x01, 0x00, 0x00, 0x49, 0x80};
  const Bytes info = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xF1, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x00,
                      0x03, 0x00, 0x00, 0x00, 0x49, 0x57, 0x00, 0x00, 0x07, 0x24};
  const Bytes chunk = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xF2, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00,
                       0x03, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63, 0xA3, 0x62};
  using R = std::pair<std::uint8_t, std::uint8_t>;
  EXPECT_EQ(Send(begin), (R{0xF0, 0}));
  EXPECT_EQ(Send(info), (R{0xF1, 0}));
  EXPECT_EQ(Send(chunk), (R{0xF2, 0}));
  EXPECT_EQ(Send(0xF3, {0x00}), (R{0xF3, 0}));
  EXPECT_EQ(Send(0xF4, {0x00}), (R{0xF4, 0}));
  EXPECT_EQ(sensor_.model().firmware().verifiedImage(), (Bytes{'a', 'b', 'c'}));
}

TEST_F(FirmwareExchangeTest, AWrongImageCrcFailsTheEndStepAndTheFinish) {
  const Bytes image = MakeImage(300);
  const std::uint16_t crc = Crc16(image.data(), image.size());
  const Transfer t = Run(image, LastChunk::Exact, crc ^ 0x0001u);
  ASSERT_EQ(t.replies.size(), 6u);
  EXPECT_EQ(t.replies[4], (std::pair<std::uint8_t, std::uint8_t>{0xF3, 3}));
  EXPECT_EQ(t.replies[5], (std::pair<std::uint8_t, std::uint8_t>{0xF4, 1}));
  EXPECT_EQ(sensor_.model().firmware().verifiedCount(), 0u);
  EXPECT_TRUE(sensor_.model().firmware().verifiedImage().empty());

  // A new transfer after the failed one starts afresh and succeeds.
  ExpectAllAccepted(Run(image));
  EXPECT_EQ(sensor_.model().firmware().verifiedImage(), image);
}

TEST_F(FirmwareExchangeTest, OutOfOrderAndInconsistentStepsAreRefusedWithoutHarm) {
  using R = std::pair<std::uint8_t, std::uint8_t>;
  const Bytes image = MakeImage(400);
  auto chunk = [&](std::uint32_t offset, std::uint32_t n, std::uint32_t carried) {
    Bytes c;
    PutU32(c, offset);
    PutU32(c, n);
    c.insert(c.end(), image.begin() + offset, image.begin() + offset + carried);
    return c;
  };
  EXPECT_EQ(Send(0xF2, chunk(0, 248, 248)), (R{0xF2, 1})) << "chunk before begin";
  EXPECT_EQ(Send(0xF1, Bytes(12, 0)), (R{0xF1, 1})) << "file info before begin";
  EXPECT_EQ(Send(0xF4, {0x00}), (R{0xF4, 1})) << "finish before begin";
  ASSERT_EQ(Send(0xF0, {0x00}), (R{0xF0, 0}));
  EXPECT_EQ(Send(0xF2, chunk(0, 248, 248)), (R{0xF2, 1})) << "chunk before the file info";
  Bytes info = {0x00, 0x00, 0x01, 0x00};
  PutU32(info, 400);
  PutU32(info, Crc16(image.data(), image.size()));
  ASSERT_EQ(Send(0xF1, info), (R{0xF1, 0}));

  EXPECT_EQ(Send(0xF2, chunk(248, 152, 152)), (R{0xF2, 1})) << "offset ahead of the bytes received";
  EXPECT_EQ(Send(0xF2, chunk(0, 248, 247)), (R{0xF2, 1})) << "n does not match the bytes carried";
  EXPECT_EQ(Send(0xF2, Bytes{0x00, 0x00, 0x00}), (R{0xF2, 1})) << "shorter than the chunk header";
  ASSERT_EQ(Send(0xF2, chunk(0, 248, 248)), (R{0xF2, 0}));
  EXPECT_EQ(Send(0xF2, chunk(0, 248, 248)), (R{0xF2, 1})) << "the same chunk twice";
  EXPECT_EQ(Send(0xF3, {0x00}), (R{0xF3, 3})) << "end before the image is complete";

  Bytes past;
  PutU32(past, 248);
  PutU32(past, 160);
  past.insert(past.end(), 160, 0x55);  // 248 + 160 > 400
  EXPECT_EQ(Send(0xF2, past), (R{0xF2, 1})) << "chunk past the announced size";
  EXPECT_EQ(sensor_.model().firmware().received().size(), 248u);

  ASSERT_EQ(Send(0xF2, chunk(248, 152, 152)), (R{0xF2, 0}));
  EXPECT_EQ(Send(0xF3, {0x00}), (R{0xF3, 0}));
  EXPECT_EQ(Send(0xF3, {0x00}), (R{0xF3, 0})) << "asked again, the answer stands";
  EXPECT_EQ(Send(0xF4, {0x00}), (R{0xF4, 0}));
  EXPECT_EQ(sensor_.model().firmware().verifiedImage(), image);
}

TEST_F(FirmwareExchangeTest, AnOversizedImageIsRefusedAtTheFileInfo) {
  using R = std::pair<std::uint8_t, std::uint8_t>;
  ASSERT_EQ(Send(0xF0, {0x00}), (R{0xF0, 0}));
  Bytes info = {0x00, 0x00, 0x01, 0x00};
  PutU32(info, 0x7FFFFFFFu);
  PutU32(info, 0);
  EXPECT_EQ(Send(0xF1, info), (R{0xF1, 1}));
}

TEST_F(FirmwareExchangeTest, AForcedTransferStatusIsReportedWhileTheImageStillArrives) {
  sensor_.model().SetForcedOtaStatus(3);
  const Bytes image = MakeImage(250);
  const Transfer t = Run(image);
  for (const auto& [code, status] : t.replies) EXPECT_EQ(status, 3) << std::hex << int(code);
  EXPECT_EQ(sensor_.model().firmware().verifiedImage(), image);
}

TEST_F(FirmwareExchangeTest, ARestartDropsATransferUnderWay) {
  using R = std::pair<std::uint8_t, std::uint8_t>;
  ASSERT_EQ(Send(0xF0, {0x00}), (R{0xF0, 0}));
  sensor_.model().SetRestartSilence(std::chrono::milliseconds(0));
  sensor_.model().Restart();
  EXPECT_EQ(Send(0xF1, Bytes(12, 0)), (R{0xF1, 1}));
}

TEST_F(FirmwareExchangeTest, AVerifiedImageIsWrittenToTheImageFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("varnel-sim-image-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  const std::string first = (dir / "first.bin").string();
  const std::string second = (dir / "second.bin").string();
  auto readFile = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };

  ASSERT_TRUE(sensor_.SetImageOut(first));
  const Bytes image = MakeImage(777);
  ExpectAllAccepted(Run(image));
  EXPECT_EQ(readFile(first), image);
  // Pointing the output elsewhere afterwards writes the image received so far at once.
  ASSERT_TRUE(sensor_.SetImageOut(second));
  EXPECT_EQ(readFile(second), image);
  // An unwritable place is reported, not ignored.
  std::string message;
  sensor_.SetMessageSink([&](const std::string& m) { message = m; });
  EXPECT_FALSE(sensor_.SetImageOut((dir / "missing" / "x.bin").string()));
  EXPECT_NE(message.find("missing"), std::string::npos);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace varnel::sim::test
