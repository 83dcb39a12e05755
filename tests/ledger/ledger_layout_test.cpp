// Lookups and stores on real ledger files: what is found, and the exact bytes written.
#include "LedgerTestSupport.h"

namespace varnel::test {
namespace {

constexpr char kStamp1[] = "2019-07-05 09:30:12";
constexpr char kStamp2[] = "2019-07-05 09:31:40";

TEST_F(LedgerTest, AbsentFileIsReportedAndNeverCreated) {
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0001"));
  ExpectWarning("Tallis.ini读取错误");
  ledger_.AddRecord("19-07-A0001", kStamp1);
  ExpectWarning("Tallis.ini打开错误");
  EXPECT_TRUE(FolderEntries().empty());
  // Nothing was recorded, so the same serial number is not refused next time.
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0001"));
  ExpectWarning("Tallis.ini读取错误");
}

TEST_F(LedgerTest, EmptyFileIsAnEmptyLedger) {
  WriteBytes("Tallis.ini", "");
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0001"));
  ledger_.AddRecord("19-07-A0001", kStamp1);
  EXPECT_EQ(ReadBytes("Tallis.ini"), "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n");
  ledger_.AddRecord("19-07-A0002", kStamp2);
  EXPECT_EQ(ReadBytes("Tallis.ini"),
            "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n19-07-A0002 = 2019-07-05 09:31:40\r\n");
  EXPECT_TRUE(ledger_.HasRecord("19-07-A0001"));
  EXPECT_TRUE(ledger_.HasRecord("19-07-A0002"));
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0003"));
  ExpectNoMessage();
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Tallis.ini"});
}

TEST_F(LedgerTest, LetterCaseOfSectionAndKeyIsIgnored) {
  WriteBytes("Tallis.ini", "[did]\r\n19-07-ab12 = 2019-07-01 08:00:00\r\n");
  EXPECT_TRUE(ledger_.HasRecord("19-07-AB12"));
  EXPECT_TRUE(ledger_.HasRecord("19-07-ab12"));
  EXPECT_FALSE(ledger_.HasRecord("19-07-AB13"));
  // Storing the same serial number in other letters updates the one record.
  ledger_.AddRecord("19-07-AB12", kStamp1);
  EXPECT_EQ(ReadBytes("Tallis.ini"), "[did]\r\n19-07-ab12 = 2019-07-05 09:30:12\r\n");
  ExpectNoMessage();
}

TEST_F(LedgerTest, StoringAnExistingKeyReplacesItsValueInPlace) {
  WriteBytes("Tallis.ini", "[DID]\r\n19-07-A0001 = 2019-07-01 08:00:00\r\n19-07-A0002 = 2019-07-01 08:01:00\r\n");
  ledger_.AddRecord("19-07-A0001", kStamp1);
  EXPECT_EQ(ReadBytes("Tallis.ini"),
            "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n19-07-A0002 = 2019-07-01 08:01:00\r\n");
  ExpectNoMessage();
}

TEST_F(LedgerTest, OnlyTheExactValueDefaultCountsAsAbsent) {
  WriteBytes("Tallis.ini", "[DID]\r\n19-07-A0001 = default\r\n19-07-A0002 = Default\r\n");
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0001"));
  EXPECT_TRUE(ledger_.HasRecord("19-07-A0002"));
  ledger_.AddRecord("19-07-A0001", kStamp1);
  EXPECT_EQ(ReadBytes("Tallis.ini"), "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n19-07-A0002 = Default\r\n");
  EXPECT_TRUE(ledger_.HasRecord("19-07-A0001"));
  ExpectNoMessage();
}

TEST_F(LedgerTest, OtherSectionsAndCommentsKeepTheirOrder) {
  WriteBytes("Tallis.ini",
             "[misc]\r\nport=COM3\r\n; registered sensors\r\n[DID]\r\n"
             "; first batch\r\n19-07-A0001=2019-07-05 09:30:12\r\n");
  ledger_.AddRecord("19-07-A0002", kStamp2);
  EXPECT_EQ(ReadBytes("Tallis.ini"),
            "[misc]\r\nport = COM3\r\n\r\n\r\n; registered sensors\r\n[DID]\r\n"
            "\r\n; first batch\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n"
            "19-07-A0002 = 2019-07-05 09:31:40\r\n");
  ExpectNoMessage();
}

TEST_F(LedgerTest, MissingSectionIsAddedLastAfterTwoEmptyLines) {
  // Lines ending in LF alone come back with CR LF like every line written.
  WriteBytes("Tallis.ini", "[misc]\nport = COM3\n\n[tool]\nlanguage = zh\n");
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0001"));
  ledger_.AddRecord("19-07-A0001", kStamp1);
  EXPECT_EQ(ReadBytes("Tallis.ini"),
            "[misc]\r\nport = COM3\r\n\r\n\r\n[tool]\r\nlanguage = zh\r\n\r\n\r\n"
            "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n");
  ExpectNoMessage();
}

TEST_F(LedgerTest, SerialNumbersAreStoredAsGbkAndDoubleByteCharactersDoNotFold) {
  WriteBytes("Tallis.ini", "");
  ledger_.AddRecord("19-07-测试", kStamp1);
  EXPECT_EQ(ReadBytes("Tallis.ini"), "[DID]\r\n19-07-\xB2\xE2\xCA\xD4 = 2019-07-05 09:30:12\r\n");
  EXPECT_TRUE(ledger_.HasRecord("19-07-测试"));
  // 丄 is GBK 81 41 and 乤 is 81 61: their trail bytes differ only as "A" and "a" do.
  ledger_.AddRecord("19-07-丄", kStamp2);
  EXPECT_TRUE(ledger_.HasRecord("19-07-丄"));
  EXPECT_FALSE(ledger_.HasRecord("19-07-乤"));
  ledger_.AddRecord("19-07-乤", kStamp2);
  EXPECT_EQ(ReadBytes("Tallis.ini"),
            "[DID]\r\n19-07-\xB2\xE2\xCA\xD4 = 2019-07-05 09:30:12\r\n"
            "19-07-\x81\x41 = 2019-07-05 09:31:40\r\n19-07-\x81\x61 = 2019-07-05 09:31:40\r\n");
  ExpectNoMessage();
}

TEST_F(LedgerTest, EachOperationUsesTheCurrentDirectoryOfThatMoment) {
  fs::create_directory(root_ / "line1");
  fs::create_directory(root_ / "line2");
  WriteBytes(root_ / "line1" / "Tallis.ini", "");
  WriteBytes(root_ / "line2" / "Tallis.ini", "[DID]\r\n19-07-B0001 = 2019-07-01 08:00:00\r\n");

  fs::current_path(root_ / "line1");
  EXPECT_FALSE(ledger_.HasRecord("19-07-B0001"));
  ledger_.AddRecord("19-07-A0001", kStamp1);
  fs::current_path(root_ / "line2");
  EXPECT_TRUE(ledger_.HasRecord("19-07-B0001"));
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0001"));
  ledger_.AddRecord("19-07-A0002", kStamp2);

  EXPECT_EQ(ReadBytes(root_ / "line1" / "Tallis.ini"), "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n");
  EXPECT_EQ(ReadBytes(root_ / "line2" / "Tallis.ini"),
            "[DID]\r\n19-07-B0001 = 2019-07-01 08:00:00\r\n19-07-A0002 = 2019-07-05 09:31:40\r\n");
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"line1", "line2"}));
  ExpectNoMessage();
}

}  // namespace
}  // namespace varnel::test
