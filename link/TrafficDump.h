#pragma once
// The trace of every frame written and every good frame received:
//   ------------------------------------
//   [Desc ] SendData
//   [HEX-8] (len: 10)
//   BB BB BB BB 01 01 00 00    ........
// Lines end in CR LF. Each dump is formatted first and written with one call,
// so dumps from different threads never interleave inside a line.
#include <cstdint>
#include <cstdio>
#include <string>

namespace varnel {

std::string FormatTraffic(const std::uint8_t* bytes, int count, const char* label);

// Writes the dump to the traffic sink (standard output unless changed).
void DumpTraffic(const std::uint8_t* bytes, int count, const char* label);

// Redirects the dump; nullptr restores standard output. For benchmarks and tests.
void SetTrafficSink(std::FILE* sink);

}  // namespace varnel
