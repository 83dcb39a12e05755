#include "sim/CardScript.h"

namespace varnel::sim {

CardScript CardScript::None() { return CardScript{}; }

CardScript CardScript::Fixed(std::uint8_t status, std::uint32_t number) {
  CardScript s;
  s.kind_ = Kind::Fixed;
  s.fixed_ = CardReading{status, status == 0 ? 0u : number};
  return s;
}

CardScript CardScript::Cycle(std::uint32_t number, std::chrono::milliseconds on,
                             std::chrono::milliseconds off, SimTime start) {
  CardScript s;
  s.kind_ = Kind::Cycle;
  s.number_ = number;
  s.on_ = on;
  s.off_ = off;
  s.start_ = start;
  return s;
}

CardReading CardScript::At(SimTime now) const {
  switch (kind_) {
    case Kind::None: return {};
    case Kind::Fixed: return fixed_;
    case Kind::Cycle: {
      const auto period = on_ + off_;
      if (period.count() <= 0) return {};
      auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_);
      if (elapsed.count() < 0) elapsed = std::chrono::milliseconds(0);
      return (elapsed % period) < on_ ? CardReading{1, number_} : CardReading{};
    }
  }
  return {};
}

std::string CardScript::Describe() const {
  switch (kind_) {
    case Kind::None: return "none";
    case Kind::Fixed:
      return "fixed " + std::to_string(fixed_.status) + " " + std::to_string(fixed_.number);
    case Kind::Cycle:
      return "cycle " + std::to_string(number_) + " " + std::to_string(on_.count()) + " " +
             std::to_string(off_.count());
  }
  return "none";
}

}  // namespace varnel::sim
