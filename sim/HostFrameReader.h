#pragma once
// The sensor's receiver: assembles checked frames from the host's byte stream.
// Unlike the host's receiver it takes the full 256-byte payload a host frame
// may carry (a firmware chunk is 8 + 248 bytes). A preamble is four equal bytes,
// BB or AA. After a bad checksum or an impossible length the search starts
// again one byte after the broken frame's start, so a good frame that began
// inside it is still found.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/LinkFrame.h"

namespace varnel::sim {

class HostFrameReader {
 public:
  using Handler = std::function<void(const LinkFrame&)>;

  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  void Feed(const std::uint8_t* bytes, std::size_t count);
  void Reset() { held_ = 0; }

  std::uint64_t framesDelivered() const { return delivered_; }
  std::uint64_t framesRejected() const { return rejected_; }

 private:
  // Delivers or discards what the held bytes allow; stops when more are needed.
  void Scan();
  void Drop(std::size_t count);

  std::uint8_t held_bytes_[kLinkMaxWireFrame] = {};
  std::size_t held_ = 0;
  LinkFrame frame_;
  Handler handler_;
  std::uint64_t delivered_ = 0;
  std::uint64_t rejected_ = 0;
};

}  // namespace varnel::sim
