#pragma once
// Whatever puts frames on the wire. Protocol code sends through this, so it
// needs neither the port nor the reader thread, and its tests can record
// frames instead of writing them.
#include "link/LinkFrame.h"

namespace varnel {

class FrameSender {
 public:
  virtual ~FrameSender() = default;
  // Computes and stores the crc, dumps and writes the frame. Reports nothing.
  virtual void SendData(LinkFrame& frame) = 0;
};

}  // namespace varnel
