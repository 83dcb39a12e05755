#include "ledger/RegistrationLedger.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

// Only the 8-bit document is used; the library's wide-text converters are not wanted.
// The document type below has its own name order, so the template's bodies are
// compiled here (Debian's header shows them only on request).
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include "ledger/LedgerFile.h"
#include "platform/CodePage.h"

namespace varnel {
namespace {

constexpr char kFileName[] = "Tallis.ini";
constexpr char kSection[] = "DID";
// The value a lookup answers for a missing record; a record holding it counts as absent.
constexpr char kAbsent[] = "default";

constexpr char kCaption[] = "警告";
constexpr char kReadError[] = "Tallis.ini读取错误";
constexpr char kOpenError[] = "Tallis.ini打开错误";
constexpr char kStoreError[] = "Tallis.ini存储错误";
constexpr char kFolderRefused[] = "Tallis.ini存储错误：所在文件夹不允许替换此文件，请检查该文件夹的权限";

// Case-insensitive order of names in the GBK code page. ASCII letters fold; both bytes of
// a double-byte character compare exactly, because its trail byte may be an ASCII letter
// (丄 is 81 41, 乤 is 81 61) and folding it would make two different serial numbers one.
struct CodePageNoCase {
  bool operator()(const char* left, const char* right) const {
    bool leftTrail = false;
    bool rightTrail = false;
    for (;; ++left, ++right) {
      const unsigned l = Folded(*left, leftTrail);
      const unsigned r = Folded(*right, rightTrail);
      if (l != r || l == 0) return l < r;
    }
  }

  // inTrail tells whether c is the second byte of a double-byte character.
  static unsigned Folded(char c, bool& inTrail) {
    const auto byte = static_cast<unsigned char>(c);
    if (inTrail) {
      inTrail = false;
      return byte;
    }
    if (byte >= 0x81 && byte <= 0xFE) {
      inTrail = true;
      return byte;
    }
    return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte;
  }
};

using LedgerDocument = CSimpleIniTempl<char, CodePageNoCase, SI_ConvertA<char>>;

std::optional<std::filesystem::path> LedgerPath(const std::filesystem::path& file) {
  if (!file.empty()) return file;
  // The current directory at this moment: the operator may have moved between calls.
  std::error_code error;
  std::filesystem::path directory = std::filesystem::current_path(error);
  if (error) return std::nullopt;
  return directory / kFileName;
}

void Configure(LedgerDocument& document) {
  document.SetUnicode(false);
  document.SetMultiKey(false);
  document.SetMultiLine(false);
  document.SetSpaces(true);
}

// Parses ledger text into a fresh document. The parser stops at the first NUL byte
// without complaint, so a rewrite would silently drop everything after it: such a file
// is not ledger text and is refused instead.
bool Parse(std::string_view text, LedgerDocument& document) {
  Configure(document);
  if (text.find('\0') != std::string_view::npos) return false;
  return document.LoadData(text.data(), text.size()) >= 0;
}

// Reads and parses the ledger; false when it is missing or not ledger text.
bool Load(const std::optional<std::filesystem::path>& path, LedgerDocument& document) {
  std::string bytes;
  return path && ReadWholeFile(*path, bytes) && Parse(bytes, document);
}

bool IsRecorded(const LedgerDocument& document, const std::string& key) {
  if (key.find('\0') != std::string::npos) return false;  // no key in the file holds one
  return std::strcmp(document.GetValue(kSection, key.c_str(), kAbsent), kAbsent) != 0;
}

// The document as the file's bytes: every line ends with CR LF, whatever the platform's
// own line end is.
std::optional<std::string> Serialise(const LedgerDocument& document) {
  std::string text;
  if (document.Save(text, false) < 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
    out.push_back(text[i]);
  }
  return out;
}

// A key with "=" or trailing blanks, or a value with line breaks, is written in a form
// that reads back as a different record (and may then shadow another one). Checking the
// new text the way the next lookup will read it keeps such a record out of the file.
bool ReadsBack(std::string_view text, const std::string& key, const std::string& value) {
  LedgerDocument reread;
  if (!Parse(text, reread) || key.find('\0') != std::string::npos) return false;
  const char* stored = reread.GetValue(kSection, key.c_str(), nullptr);
  return stored != nullptr && value == stored;
}

// "Tallis.ini.lock" beside the file the ledger's name leads to, so every name for one
// ledger (a symbolic link, say) shares one lock.
std::filesystem::path LockPathFor(const std::filesystem::path& ledgerFile) {
  std::filesystem::path lock = ledgerFile;
  lock += ".lock";
  return lock;
}

std::string BusyMessage(const std::string& holder, std::chrono::milliseconds waited) {
  const std::string seconds = std::to_string((waited.count() + 999) / 1000);
  const std::size_t blank = holder.rfind(' ');
  std::string who = "另一个进程";
  if (blank != std::string::npos && blank > 0) {
    who = "主机" + holder.substr(0, blank) + "上的进程" + holder.substr(blank + 1);
  } else if (!holder.empty()) {
    who = holder;
  }
  return "Tallis.ini正被" + who + "使用，等待" + seconds + "秒后仍未释放。本次未注册，请稍后再试";
}

// One character of UTF-8 text at pos, and its code point; an invalid byte is one
// character of its own (U+FFFD).
std::string_view NextCharacter(std::string_view text, std::size_t pos, char32_t& codePoint) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  const std::size_t length = lead < 0x80          ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
  if (length == 0 || pos + length > text.size()) {
    codePoint = 0xFFFD;
    return text.substr(pos, 1);
  }
  codePoint = length == 1 ? lead : lead & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) {
      codePoint = 0xFFFD;
      return text.substr(pos, 1);
    }
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  return text.substr(pos, length);
}

std::string CodePointText(char32_t codePoint) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(codePoint));
  return text;
}

bool IsControl(char32_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

// The character named in a refusal: shown itself where it is visible, always with its code.
std::string Named(std::string_view character, char32_t codePoint) {
  if (codePoint == ' ') return "空格(U+0020)";
  if (codePoint == '\t') return "制表符(U+0009)";
  const bool visible = codePoint > 0x20 && !IsControl(codePoint) && codePoint != 0xFFFD;
  return (visible ? "\"" + std::string(character) + "\"" : std::string()) + "(" + CodePointText(codePoint) + ")";
}

}  // namespace

void RegistrationLedger::Warn(const std::string& text) const {
  operator_.ShowMessage(text, kCaption, MessageButtons::Ok, MessageOwner::ActiveDialog);
}

LedgerLock RegistrationLedger::Lock() const {
  const std::optional<std::filesystem::path> path = LedgerPath(file_);
  const std::optional<std::filesystem::path> file = path ? ExistingRegularFile(*path) : std::nullopt;
  // Without a ledger there is nothing to guard; the steps report the missing file.
  if (!file) return LedgerLock(true, std::nullopt);
  LockFile lock = LockFile::Acquire(LockPathFor(*file), lockWait_);
  switch (lock.Status()) {
    case LockFile::State::Held:
      return LedgerLock(true, std::move(lock));
    case LockFile::State::Busy:
      Warn(BusyMessage(lock.Holder(), lockWait_));
      return LedgerLock(false, std::nullopt);
    case LockFile::State::Unavailable:
      break;
  }
  // A folder that cannot take the lock file cannot take the rewrite either: that
  // reports it, so the registration goes on as it would without stations sharing.
  return LedgerLock(true, std::nullopt);
}

bool RegistrationLedger::CheckStorable(const std::string& serial) const {
  const std::string_view text = serial;
  std::string_view last;
  char32_t lastCode = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t code = 0;
    const std::string_view character = NextCharacter(text, pos, code);
    pos += character.size();
    if (code == 0xFFFD || (Utf8ToCodePage(character) == "?" && character != "?")) {
      Warn("序列号中的字符" + Named(character, code) + "无法用系统代码页表示，不能注册，请修改序列号");
      return false;
    }
    if (IsControl(code) || code == '=') {
      Warn("序列号中的字符" + Named(character, code) + "无法记入Tallis.ini，不能注册，请修改序列号");
      return false;
    }
    last = character;
    lastCode = code;
  }
  if (lastCode == ' ') {
    Warn("序列号末尾的字符" + Named(last, lastCode) + "无法记入Tallis.ini，不能注册，请修改序列号");
    return false;
  }
  return true;
}

bool RegistrationLedger::HasRecord(const std::string& serial) const {
  LedgerDocument document;
  if (!Load(LedgerPath(file_), document)) {
    Warn(kReadError);
    return false;
  }
  return IsRecorded(document, Utf8ToCodePage(serial));
}

bool RegistrationLedger::AddRecord(const std::string& serial, const std::string& timestamp) const {
  const LedgerLock lock = Lock();
  return lock && AddRecord(lock, serial, timestamp);
}

bool RegistrationLedger::AddRecord(const LedgerLock& lock, const std::string& serial,
                                   const std::string& timestamp) const {
  if (!lock) return false;  // refused: another station has the ledger
  const std::optional<std::filesystem::path> path = LedgerPath(file_);
  LedgerDocument document;
  if (!Load(path, document)) {
    Warn(kOpenError);
    return false;
  }
  const std::string key = Utf8ToCodePage(serial);
  const std::string value = Utf8ToCodePage(timestamp);
  if (document.SetValue(kSection, key.c_str(), value.c_str()) < 0) {
    Warn(kStoreError);
    return false;
  }
  const std::optional<std::string> text = Serialise(document);
  if (!text || !ReadsBack(*text, key, value)) {
    Warn(kStoreError);
    return false;
  }
  switch (ReplaceWholeFile(*path, *text, lock.Held())) {
    case ReplaceOutcome::Replaced:
      return true;
    case ReplaceOutcome::Failed:
      Warn(kStoreError);
      return false;
    case ReplaceOutcome::FolderRefused:
      Warn(kFolderRefused);
      return false;
  }
  return false;
}

RegisterOutcome RegistrationLedger::Register(const std::string& serial, const std::string& timestamp,
                                             const std::function<void()>& writeSensor) const {
  // Held from the duplicate check through the record and the sensor write, so another
  // station sharing the ledger can neither pass the same check nor drop this record.
  const LedgerLock lock = Lock();
  if (!lock) return RegisterOutcome::LedgerBusy;  // the ledger said who keeps it
  if (HasRecord(serial)) return RegisterOutcome::Duplicate;
  // The ledger reports its own failures; the sensor gets its number regardless.
  const bool recorded = AddRecord(lock, serial, timestamp);
  writeSensor();
  return recorded ? RegisterOutcome::Registered : RegisterOutcome::NotRecorded;
}

}  // namespace varnel
