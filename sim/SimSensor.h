#pragma once
// The whole simulated sensor behind one port: the receiver that turns the
// host's bytes into frames, the sensor model, and the faults and timing of the
// replies. The served port feeds it what it reads and writes what it answers.
//
// Single owner: the thread that feeds it also runs the control commands.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/HostFrameReader.h"
#include "sim/SensorModel.h"
#include "sim/WireShaper.h"

namespace varnel::sim {

using MessageSink = std::function<void(const std::string&)>;

class SimSensor {
 public:
  explicit SimSensor(SimClock clock = SteadyNow);
  SimSensor(const SimSensor&) = delete;
  SimSensor& operator=(const SimSensor&) = delete;

  // Feeds bytes read from the port (the last of them read at `arrived`) and
  // answers the writes of every reply they caused, in order.
  std::vector<WireWrite> Feed(const std::uint8_t* bytes, std::size_t count, SimTime arrived);

  // A new port: a partly received frame is dropped and the wire is idle.
  void ResetLink();

  SensorModel& model() { return model_; }
  const SensorModel& model() const { return model_; }
  WireShaper& shaper() { return shaper_; }
  const WireShaper& shaper() const { return shaper_; }
  std::uint64_t badFrames() const { return reader_.framesRejected(); }

  // Where each image that passes its check is written (empty: nowhere). An
  // image already received is written at once. Answers false, with the reason
  // on the message sink, when the file cannot be written.
  bool SetImageOut(std::string path);
  const std::string& imageOut() const { return imageOut_; }

  // Problems worth a line (an image that cannot be written).
  void SetMessageSink(MessageSink sink) { messages_ = std::move(sink); }
  // Every frame in and out, as a labelled dump, plus why a step was refused.
  void SetTraceSink(MessageSink sink) { trace_ = std::move(sink); }

  // One line each, "stats key=value ..." and "state key=value ...".
  std::string StatsLine() const;
  std::string StateLine() const;

 private:
  void OnFrame(const LinkFrame& frame);
  bool WriteImage();

  SensorModel model_;
  WireShaper shaper_;
  HostFrameReader reader_;
  std::string imageOut_;
  std::uint64_t imagesSeen_ = 0;  // verified images already handled
  MessageSink messages_;
  MessageSink trace_;

  // Context of the Feed call under way, for the frame handler.
  SimTime arrived_{};
  std::vector<WireWrite>* out_ = nullptr;
};

}  // namespace varnel::sim
