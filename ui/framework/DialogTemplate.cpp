#include "ui/framework/DialogTemplate.h"

#include <algorithm>
#include <cstdint>

namespace varnel {
namespace {

// a * b / c rounded half away from zero, without intermediate overflow.
int MulDivRound(int a, int b, int c) {
  const std::int64_t num = static_cast<std::int64_t>(a) * b;
  const std::int64_t half = c / 2;
  const std::int64_t q = num >= 0 ? (num + half) / c : (num - half) / c;
  return static_cast<int>(q);
}

}  // namespace

bool RemoveControl(DialogTemplate& dialog, int controlId) {
  return std::erase_if(dialog.controls,
                       [controlId](const ControlTemplate& c) { return c.id == controlId; }) > 0;
}

PixelRect DialogUnitsToPixels(const BaseUnits& units, int x, int y, int w, int h) {
  const int left = MulDivRound(x, units.baseX, 4);
  const int right = MulDivRound(x + w, units.baseX, 4);
  const int top = MulDivRound(y, units.baseY, 8);
  const int bottom = MulDivRound(y + h, units.baseY, 8);
  return PixelRect{left, top, right - left, bottom - top};
}

BaseUnits BaseUnitsFromMetrics(int advanceOf52Letters, int fontHeight) {
  return BaseUnits{std::max(1, (advanceOf52Letters / 26 + 1) / 2), std::max(1, fontHeight)};
}

}  // namespace varnel
