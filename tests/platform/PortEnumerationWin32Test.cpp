// The Windows port list: the serial-port key's values read through a stand-in for
// RegEnumValueW, then the connect dialog's listing rule on what was read; and, under
// wine only, one round trip through the real registry.
#include "platform/Win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/PortEnumeration.h"
#include "ui/rules/PortListing.h"

namespace varnel {
namespace {

using Names = std::vector<std::string>;

// One registry value's data as the key stores it.
struct StoredValue {
  std::wstring text;
  bool terminated = true;  // REG_SZ data normally carries its terminator, but need not
};

// Answers reads by index the way RegEnumValueW does, and notes which indexes were asked for.
class FakeSerialCommKey {
 public:
  explicit FakeSerialCommKey(std::vector<StoredValue> values) : values_(std::move(values)) {}

  long Read(unsigned long index, wchar_t* data, unsigned long* dataBytes) {
    asked_.push_back(index);
    if (index >= values_.size()) return ERROR_NO_MORE_ITEMS;
    const StoredValue& v = values_[index];
    const unsigned long bytes =
        static_cast<unsigned long>((v.text.size() + (v.terminated ? 1 : 0)) * sizeof(wchar_t));
    if (bytes > *dataBytes) {
      *dataBytes = bytes;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, v.text.c_str(), bytes);
    *dataBytes = bytes;
    return ERROR_SUCCESS;
  }
  RegistryValueReader Reader() {
    return [this](unsigned long i, wchar_t* d, unsigned long* b) { return Read(i, d, b); };
  }
  const std::vector<unsigned long>& asked() const { return asked_; }

 private:
  std::vector<StoredValue> values_;
  std::vector<unsigned long> asked_;
};

PortListing ListFromKey(std::vector<StoredValue> values) {
  FakeSerialCommKey key(std::move(values));
  return ApplyPortListingRule(EnumerateRegistryValues(key.Reader()), kPortNamesUseComRule);
}

TEST(PortEnumerationWin32, ListKeepsTheRegistrysOrderAndPicksItsFirstName) {
  FakeSerialCommKey key({{L"COM4"}, {L"COM1"}});
  EXPECT_EQ(EnumerateRegistryValues(key.Reader()), (Names{"COM4", "COM1"}));
  EXPECT_EQ(key.asked(), (std::vector<unsigned long>{0, 1, 2}));  // read until "no more items"

  const PortListing l = ListFromKey({{L"COM4"}, {L"COM1"}});
  EXPECT_EQ(l.listed, (Names{"COM4", "COM1"}));
  EXPECT_EQ(l.portName, "COM4");

  EXPECT_EQ(ListFromKey({{L"COM2"}, {L"COM2"}}).listed, (Names{"COM2", "COM2"}));
}

TEST(PortEnumerationWin32, ListStopsAtTheFirstNameThatIsNotACOMPort) {
  FakeSerialCommKey key({{L"COM3"}, {L"CNCA0"}, {L"COM5"}});
  EXPECT_EQ(EnumerateRegistryValues(key.Reader()), (Names{"COM3", "CNCA0", "COM5"}));
  const PortListing l = ListFromKey({{L"COM3"}, {L"CNCA0"}, {L"COM5"}});
  EXPECT_EQ(l.listed, Names{"COM3"});
  EXPECT_EQ(l.portName, "COM3");

  // Nothing listed, yet the first device is the one "连接" will try.
  const PortListing hidden = ListFromKey({{L"CNCA0"}, {L"COM2"}});
  EXPECT_TRUE(hidden.listed.empty());
  EXPECT_EQ(hidden.portName, "CNCA0");
}

TEST(PortEnumerationWin32, EmptyKeyOrFailingReadGivesWhatCameBefore) {
  const PortListing none = ListFromKey({});
  EXPECT_TRUE(none.listed.empty());
  EXPECT_TRUE(none.portName.empty());

  FakeSerialCommKey key({{L"COM7"}});
  int reads = 0;
  const Names ports = EnumerateRegistryValues([&](unsigned long i, wchar_t* d, unsigned long* b) -> long {
    if (++reads == 2) return ERROR_ACCESS_DENIED;
    return key.Read(i, d, b);
  });
  EXPECT_EQ(ports, Names{"COM7"});
  EXPECT_EQ(reads, 2);
}

TEST(PortEnumerationWin32, NameTooLongForTheBuffersIsLeftOutAndTheRestRead) {
  const std::wstring longest(24, L'X');      // 24 characters and the terminator: 50 bytes, fits
  const std::wstring tooLong(25, L'Y');      // 52 bytes with its terminator
  FakeSerialCommKey key({{L"COM3"}, {tooLong}, {L"COM" + longest.substr(3)}, {L"COM9", false}});
  const Names ports = EnumerateRegistryValues(key.Reader());
  EXPECT_EQ(ports, (Names{"COM3", "COM" + std::string(21, 'X'), "COM9"}));
  EXPECT_EQ(key.asked().size(), 5u);

  // The skipped value does not end the list: the rule sees only what was read.
  const PortListing l = ApplyPortListingRule(ports, kPortNamesUseComRule);
  EXPECT_EQ(l.listed.size(), 3u);
  EXPECT_EQ(l.portName, "COM3");
}

TEST(PortEnumerationWin32, AtMost128NamesAreReadAndListed) {
  std::vector<StoredValue> values;
  for (int i = 1; i <= 200; ++i) values.push_back({L"COM" + std::to_wstring(i)});
  FakeSerialCommKey key(values);
  const Names ports = EnumerateRegistryValues(key.Reader());
  ASSERT_EQ(ports.size(), 128u);
  EXPECT_EQ(ports.front(), "COM1");
  EXPECT_EQ(ports.back(), "COM128");
  EXPECT_EQ(key.asked().back(), 127u);  // the values past the table are not read at all

  const PortListing l = ApplyPortListingRule(ports, kPortNamesUseComRule);
  EXPECT_EQ(l.listed, ports);
  EXPECT_EQ(l.portName, "COM1");
}

// Writing the machine's serial-port key is fine in a throw-away wine prefix, not on a PC.
bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class SerialCommKeyUnderWine : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "changes the machine's serial-port key; runs only under wine";
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ | KEY_SET_VALUE,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (!key_) return;
    for (const std::wstring& name : added_) RegDeleteValueW(key_, name.c_str());
    RegCloseKey(key_);
  }
  void Add(const std::wstring& name, const std::wstring& data) {
    const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(RegSetValueExW(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes),
              ERROR_SUCCESS);
    added_.push_back(name);
  }

  HKEY key_ = nullptr;
  std::vector<std::wstring> added_;
};

TEST_F(SerialCommKeyUnderWine, RealKeyIsReadWithTheDialogsBuffers) {
  Add(L"\\Device\\VarnelTest0", L"COM240");
  Add(L"\\Device\\VarnelTestWithAValueNameTooLongForTheDialogToRead", L"COM241");  // 56 characters
  Add(L"\\Device\\VarnelTest1", L"COM242-with-a-device-name-too-long");
  Add(L"\\Device\\VarnelTest2", L"COM243");

  const Names ports = EnumerateSerialPorts("");
  const auto has = [&](const char* name) { return std::find(ports.begin(), ports.end(), name) != ports.end(); };
  EXPECT_TRUE(has("COM240"));
  EXPECT_TRUE(has("COM243"));
  EXPECT_FALSE(has("COM241"));
  for (const std::string& p : ports) EXPECT_EQ(p.rfind("COM242", 0), std::string::npos) << p;
}

}  // namespace
}  // namespace varnel
