#include "cli/SettingArguments.h"

#include <cctype>
#include <span>

#include "protocol/CommandSet.h"
#include "ui/rules/AddressInput.h"
#include "ui/rules/SettingCodes.h"

namespace varnel::cli {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The entry whose text is value, letter case ignored; a list text may also be
// given without its unit ("500K" for "500Kbps").
const ListEntry* FindEntry(std::span<const ListEntry> entries, std::string_view value, std::string_view unit = {}) {
  for (const ListEntry& entry : entries) {
    std::string_view text = entry.text;
    if (SameLetters(text, value)) return &entry;
    if (!unit.empty() && text.size() > unit.size() && SameLetters(text.substr(text.size() - unit.size()), unit) &&
        SameLetters(text.substr(0, text.size() - unit.size()), value))
      return &entry;
  }
  return nullptr;
}

std::string Choices(std::span<const ListEntry> entries) {
  std::string text;
  for (const ListEntry& entry : entries) text += (text.empty() ? "" : ", ") + std::string(entry.text);
  return text;
}

SettingWrite Refused(std::string why) {
  SettingWrite write;
  write.refusal = std::move(why);
  return write;
}

SettingWrite Accepted(LinkFrame request, std::string summary) {
  return SettingWrite{true, request, std::move(summary), {}};
}

}  // namespace

SettingWrite ParseSettingWrite(std::string_view setting, std::string_view value, std::string_view frame) {
  const std::string given(value);
  if (setting == "address") {
    const AddressVerdict verdict = CheckSerialNodeAddress(value);
    if (!verdict.accepted) return Refused(verdict.message);
    return Accepted(MakeNodeAddressRequest(static_cast<std::uint8_t>(verdict.value)),
                    "address " + FormatSerialNodeAddress(static_cast<std::uint8_t>(verdict.value)));
  }
  if (setting == "baud") {
    const ListEntry* entry = FindEntry(kSerialBaudEntries, value);
    if (!entry) return Refused("baud '" + given + "' is not one of " + Choices(kSerialBaudEntries));
    return Accepted(MakeSerialBaudRequest(entry->code), "baud " + std::string(entry->text));
  }
  if (setting == "canid") {
    const int frameIndex = frame == "std" ? 0 : frame == "ext" ? 1 : -1;
    if (frameIndex < 0) return Refused("--frame must be std or ext, not '" + std::string(frame) + "'");
    const AddressVerdict verdict = CheckCanNodeAddress(value, frameIndex);
    if (!verdict.accepted) return Refused(verdict.message);
    const auto frameType = static_cast<std::uint8_t>(frameIndex);
    return Accepted(MakeCanIdRequest(verdict.value, frameType),
                    "canid " + FormatCanNodeId(verdict.value, frameType).text + " " + std::string(frame));
  }
  if (setting == "canrate") {
    const ListEntry* entry = FindEntry(kCanRateEntries, value, "bps");
    if (!entry) return Refused("canrate '" + given + "' is not one of " + Choices(kCanRateEntries));
    return Accepted(MakeCanRateRequest(entry->code), "canrate " + std::string(entry->text));
  }
  if (setting == "output") {
    // The list's own words, or plain names for scripts.
    const ListEntry* entry = FindEntry(kOutputModeEntries, value);
    if (!entry && SameLetters(value, "passive")) entry = &kOutputModeEntries[0];
    if (!entry && SameLetters(value, "trigger")) entry = &kOutputModeEntries[1];
    if (!entry)
      return Refused("output '" + given + "' is not one of passive, trigger, " + Choices(kOutputModeEntries));
    return Accepted(MakeOutputModeRequest(entry->code), "output " + std::string(entry->text));
  }
  return Refused("unknown setting '" + std::string(setting) + "': address, baud, canid, canrate or output");
}

}  // namespace varnel::cli
