#pragma once
// The trace of every frame written and every good frame received:
//   ------------------------------------
//   [Desc ] SendData
//   [HEX-8] (len: 10)
//   BB BB BB BB 01 01 00 00    ........
// Lines end in CR LF. Each dump is formatted whole first and handed on as one
// piece, so dumps from different threads never interleave.
#include <cstdint>
#include <string>
#include <string_view>

namespace varnel {

// Where the trace goes. Whoever dumps is handed one; none means no trace.
class TrafficLog {
 public:
  virtual ~TrafficLog() = default;
  // Takes one whole piece of the trace (a frame's dump, a chunk line). Any
  // thread; must come back at once whatever the reader of the trace does.
  virtual void Write(std::string_view text) = 0;
};

std::string FormatTraffic(const std::uint8_t* bytes, int count, const char* label);

// Formats the dump and hands it to log; nothing when log is null.
void DumpTraffic(TrafficLog* log, const std::uint8_t* bytes, int count, const char* label);

}  // namespace varnel
