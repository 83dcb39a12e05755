#pragma once
// What the sensor's antenna sees: no card, a card that stays, or a card that
// comes and goes on a fixed timeline.
#include <chrono>
#include <cstdint>
#include <string>

namespace varnel::sim {

using SimTime = std::chrono::steady_clock::time_point;

struct CardReading {
  std::uint8_t status = 0;   // 0 no card in the field, 1 card present (any byte may be scripted)
  std::uint32_t number = 0;  // 0 when no card is present
};

class CardScript {
 public:
  static CardScript None();
  // A fixed reading; a status of 0 always reads as number 0.
  static CardScript Fixed(std::uint8_t status, std::uint32_t number);
  // The card is present for `on`, then absent for `off`, repeating from `start`.
  static CardScript Cycle(std::uint32_t number, std::chrono::milliseconds on,
                          std::chrono::milliseconds off, SimTime start);

  CardReading At(SimTime now) const;
  // "none", "fixed 1 305", "cycle 305 500 500"
  std::string Describe() const;

 private:
  enum class Kind { None, Fixed, Cycle };
  Kind kind_ = Kind::None;
  CardReading fixed_;
  std::uint32_t number_ = 0;
  std::chrono::milliseconds on_{0};
  std::chrono::milliseconds off_{0};
  SimTime start_{};
};

}  // namespace varnel::sim
