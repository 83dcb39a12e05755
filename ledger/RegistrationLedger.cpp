#include "ledger/RegistrationLedger.h"

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
#include "platform/MessageBox.h"

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

void Warn(const char* text) {
  ShowMessage(text, kCaption, MessageButtons::Ok, MessageOwner::ActiveDialog);
}

std::optional<std::filesystem::path> LedgerPath() {
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

}  // namespace

bool RegistrationLedger::HasRecord(const std::string& serial) const {
  LedgerDocument document;
  if (!Load(LedgerPath(), document)) {
    Warn(kReadError);
    return false;
  }
  return IsRecorded(document, Utf8ToCodePage(serial));
}

void RegistrationLedger::AddRecord(const std::string& serial, const std::string& timestamp) const {
  const std::optional<std::filesystem::path> path = LedgerPath();
  LedgerDocument document;
  if (!Load(path, document)) {
    Warn(kOpenError);
    return;
  }
  const std::string key = Utf8ToCodePage(serial);
  const std::string value = Utf8ToCodePage(timestamp);
  if (document.SetValue(kSection, key.c_str(), value.c_str()) < 0) {
    Warn(kStoreError);
    return;
  }
  const std::optional<std::string> text = Serialise(document);
  if (!text || !ReadsBack(*text, key, value) || !ReplaceWholeFile(*path, *text)) {
    Warn(kStoreError);
  }
}

}  // namespace varnel
