#include "sim/SimSensor.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "link/TrafficDump.h"

namespace varnel::sim {

SimSensor::SimSensor(SimClock clock) : model_(std::move(clock)) {
  reader_.SetHandler([this](const LinkFrame& frame) { OnFrame(frame); });
}

std::vector<WireWrite> SimSensor::Feed(const std::uint8_t* bytes, std::size_t count, SimTime arrived) {
  std::vector<WireWrite> writes;
  arrived_ = arrived;
  out_ = &writes;
  reader_.Feed(bytes, count);
  out_ = nullptr;
  return writes;
}

void SimSensor::ResetLink() {
  reader_.Reset();
  shaper_.ResetTiming();
}

void SimSensor::OnFrame(const LinkFrame& frame) {
  const std::size_t requestBytes = kLinkHeaderSize + frame.length + 2;
  if (trace_) {
    std::uint8_t wire[kLinkMaxWireFrame];
    WriteHeader(frame, wire);
    std::copy(frame.payload, frame.payload + frame.length, wire + kLinkHeaderSize);
    wire[kLinkHeaderSize + frame.length] = static_cast<std::uint8_t>(frame.crc);
    wire[kLinkHeaderSize + frame.length + 1] = static_cast<std::uint8_t>(frame.crc >> 8);
    trace_(FormatTraffic(wire, static_cast<int>(requestBytes), "host"));
  }

  std::vector<std::uint8_t> reply = model_.Handle(frame);
  if (trace_) {
    const std::string& problem = model_.firmware().lastProblem();
    if ((frame.code & 0xF8) == 0xF0 && !problem.empty()) trace_("firmware: " + problem + "\r\n");
    if (reply.empty()) trace_(model_.Restarting() ? "(restarting: no reply)\r\n" : "(no reply)\r\n");
    else trace_(FormatTraffic(reply.data(), static_cast<int>(reply.size()), "sensor"));
  }

  if (model_.firmware().verifiedCount() != imagesSeen_) {
    imagesSeen_ = model_.firmware().verifiedCount();
    if (!imageOut_.empty()) WriteImage();
  }

  std::vector<WireWrite> writes = shaper_.Shape(std::move(reply), arrived_, requestBytes);
  if (out_) {
    for (WireWrite& w : writes) out_->push_back(std::move(w));
  }
}

bool SimSensor::SetImageOut(std::string path) {
  imageOut_ = std::move(path);
  if (imageOut_.empty() || model_.firmware().verifiedCount() == 0) return true;
  return WriteImage();
}

bool SimSensor::WriteImage() {
  // Written beside the target and renamed over it, so whoever watches the
  // path sees either nothing or the whole image.
  const std::string part = imageOut_ + ".part";
  const std::vector<std::uint8_t>& image = model_.firmware().verifiedImage();
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) {
      if (messages_) messages_("cannot write the received image to " + part);
      std::error_code ignored;
      std::filesystem::remove(part, ignored);
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(part, imageOut_, error);
  if (error) {
    if (messages_) messages_("cannot write the received image to " + imageOut_ + ": " + error.message());
    std::filesystem::remove(part, error);
    return false;
  }
  return true;
}

std::string SimSensor::StatsLine() const {
  const RequestCounts& c = model_.counts();
  const ShaperCounts& s = shaper_.counts();
  std::uint64_t frames = 0;
  std::string codes;
  for (unsigned code = 0; code < 256; ++code) {
    if (!c.received[code]) continue;
    frames += c.received[code];
    char item[32];
    std::snprintf(item, sizeof item, "%s%02X:%llu", codes.empty() ? "" : ",", code,
                  static_cast<unsigned long long>(c.received[code]));
    codes += item;
  }
  // Card reads minus card replies that left for the wire: reads the host still waits for.
  const std::uint64_t cardReads = c.received[0x30];
  const std::uint64_t cardAnswered = s.sentByCode[0x30];
  char line[512];
  std::snprintf(line, sizeof line,
                "stats frames=%llu bad=%llu replies=%llu silenced=%llu dropped=%llu corrupted=%llu "
                "duplicated=%llu unrequested=%llu ignored=%llu unknown=%llu card-reads=%llu card-replies=%llu codes=%s",
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(badFrames()),
                static_cast<unsigned long long>(s.replies), static_cast<unsigned long long>(s.silenced),
                static_cast<unsigned long long>(s.dropped), static_cast<unsigned long long>(s.corrupted),
                static_cast<unsigned long long>(s.duplicated), static_cast<unsigned long long>(s.unrequested),
                static_cast<unsigned long long>(c.ignoredWhileRestarting),
                static_cast<unsigned long long>(c.unknown), static_cast<unsigned long long>(cardReads),
                static_cast<unsigned long long>(cardAnswered), codes.empty() ? "-" : codes.c_str());
  return line;
}

std::string SimSensor::StateLine() const {
  const SensorIdentity& id = model_.identity();
  const FirmwareSink& fw = model_.firmware();
  const SensorConfig& running = model_.running();
  std::string line = "state fw=" + FormatVersion(id.firmware) + " hw=" + FormatVersion(id.hardware) +
                     " sn=" + FormatSerial(id.serial) + " " + FormatConfig(running) +
                     " saved=" + FormatConfig(model_.saved(), ',', ':') +
                     " restarting=" + (model_.Restarting() ? "yes" : "no") +
                     " ota=" + FirmwareSink::PhaseName(fw.phase()) +
                     " received=" + std::to_string(fw.received().size()) +
                     " image=" + std::to_string(fw.verifiedImage().size());
  return line;
}

}  // namespace varnel::sim

