#include "ui/framework/DialogControl.h"

#include <algorithm>

namespace varnel {

DialogControl::DialogControl(const ControlTemplate& source, NativeControl* native, PixelRect box)
    : id_(source.id),
      kind_(source.kind),
      native_(native),
      box_(box),
      centered_(source.kind == ControlKind::StaticCentered || (source.flags & ControlFlags::Centered)) {
  if (IsProgress()) RenderProgress();
}

bool DialogControl::SetRange(int min, int max) {
  if (!IsProgress()) return false;
  rangeMin_ = min;
  rangeMax_ = max;
  position_ = std::clamp(position_, std::min(min, max), std::max(min, max));
  RenderProgress();
  return true;
}

bool DialogControl::SetStep(int step) {
  if (!IsProgress()) return false;
  step_ = step;
  return true;
}

int DialogControl::StepIt() {
  if (!IsProgress()) return 0;
  const int previous = position_;
  const long long span = static_cast<long long>(rangeMax_) - rangeMin_;
  long long next = static_cast<long long>(position_) + step_;
  if (span <= 0) {
    next = rangeMin_;
  } else if (next > rangeMax_) {
    next = rangeMin_ + (next - rangeMin_) % span;  // starts over from the beginning
  } else if (next < rangeMin_) {
    next = rangeMax_ - (rangeMin_ - next) % span;
  }
  position_ = static_cast<int>(next);
  RenderProgress();
  return previous;
}

int DialogControl::SetPosition(int position) {
  if (!IsProgress()) return 0;
  const int previous = position_;
  position_ = std::clamp(position, std::min(rangeMin_, rangeMax_), std::max(rangeMin_, rangeMax_));
  RenderProgress();
  return previous;
}

}  // namespace varnel
