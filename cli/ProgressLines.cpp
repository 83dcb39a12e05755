#include "cli/ProgressLines.h"

#include "ui/rules/DisplayText.h"

namespace varnel::cli {

std::string ProgressLine(const PortProgress& p) {
  switch (p.phase) {
    case PortPhase::Opening:
      return p.port + ": opening";
    case PortPhase::Finished:
      return p.port + ": " + p.result;
    case PortPhase::Checking:
      return p.port + ": 100% sent, the sensor checks the image";
    case PortPhase::Sending:
      break;
  }
  const int percent = p.bytesTotal ? static_cast<int>(p.bytesDone * 100 / p.bytesTotal) : 0;
  return p.port + ": " + std::to_string(percent) + "% " + std::to_string(p.bytesDone) + "/" +
         std::to_string(p.bytesTotal) + " B  " + TransferRateText(p.bytesDone, p.bytesTotal, p.elapsedSeconds);
}

void ProgressLines::Update(const std::vector<PortProgress>& ports) {
  if (terminal_) {
    if (drawn_ > 0) std::fprintf(out_, "\033[%zuA", drawn_);  // back to the first line
    for (const PortProgress& p : ports) std::fprintf(out_, "\r\033[K%s\n", ProgressLine(p).c_str());
    drawn_ = ports.size();
    std::fflush(out_);
    return;
  }
  reportedTenths_.resize(ports.size(), -1);
  reportedPhase_.resize(ports.size(), PortPhase::Opening);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const PortProgress& p = ports[i];
    const int tenths = p.bytesTotal ? static_cast<int>(p.bytesDone * 10 / p.bytesTotal) : 0;
    const bool moved = p.phase == PortPhase::Sending && tenths > reportedTenths_[i];
    if (!moved && p.phase == reportedPhase_[i]) continue;
    if (p.phase == PortPhase::Sending) reportedTenths_[i] = tenths;
    reportedPhase_[i] = p.phase;
    std::fprintf(out_, "%s\n", ProgressLine(p).c_str());
  }
  std::fflush(out_);
}

}  // namespace varnel::cli
