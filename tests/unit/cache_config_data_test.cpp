#include "store/cache_config_data.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/ansi_text.h"
#include "app/disk_write.h"
#include "app/file_replace.h"
#include "store/atomic_file.h"
#include "unit/child_process.h"
#include "unit/test_support.h"

namespace {

using test_support::PathExists;
using test_support::ReadBytes;
using test_support::WriteBytes;

using Json = nlohmann::json;

class CacheConfigDataTest : public ::testing::Test {
 protected:
  std::wstring File() const { return folder.File(L"config.data"); }
  std::string AnsiFile() const { return folder.FileA("config.data"); }
  std::string OnDisk() const { return ReadBytes(File()); }
  void PutOnDisk(const std::string& bytes) { ASSERT_TRUE(WriteBytes(File(), bytes)); }

  test_support::TempDir folder;
};

TEST_F(CacheConfigDataTest, MissingFileGivesEmptyAndLookupsAreSavedAsNull) {
  CacheConfigData store(AnsiFile());
  EXPECT_EQ(store.GetData("a"), "");
  EXPECT_FALSE(PathExists(File())) << "a lookup never writes the file";
  EXPECT_TRUE(store.SetData("b", "2"));
  EXPECT_EQ(OnDisk(), R"({"a":null,"b":"2"})");
  EXPECT_EQ(store.GetData("b"), "2");
}

TEST_F(CacheConfigDataTest, WritesCompactSortedMembersWithRawUtf8AndShortEscapes) {
  CacheConfigData store(AnsiFile());
  // A non-ASCII character the code page of this run can represent.
  const std::string local = GetACP() == 936 ? "\xE4\xB8\xAD\xE6\x96\x87" : "caf\xC3\xA9";
  ASSERT_TRUE(store.SetData("b", "q\"b\\s/\b\t\n\f\r\x01\x1f"));
  ASSERT_TRUE(store.SetData("a", local));
  ASSERT_TRUE(store.SetData("Z", ""));
  ASSERT_TRUE(store.SetData(local, "x"));
  EXPECT_EQ(OnDisk(), "{\"Z\":\"\",\"a\":\"" + local +
                          "\",\"b\":\"q\\\"b\\\\s/\\b\\t\\n\\f\\r\\u0001\\u001f\",\"" + local +
                          "\":\"x\"}");
  EXPECT_EQ(store.GetData(local), "x");
  EXPECT_EQ(store.GetData("Z"), "") << "an empty value reads like an absent key";
  // A second store on the same file (the next start of the program) sees it all.
  CacheConfigData restarted(AnsiFile());
  EXPECT_EQ(restarted.GetData("a"), local);
  EXPECT_EQ(restarted.GetData("b"), "q\"b\\s/\b\t\n\f\r\x01\x1f");
}

TEST_F(CacheConfigDataTest, OverwritingKeepsTheLastValue) {
  CacheConfigData store(AnsiFile());
  ASSERT_TRUE(store.SetData("k", "1"));
  ASSERT_TRUE(store.SetData("k", "2"));
  EXPECT_EQ(store.GetData("k"), "2");
  EXPECT_EQ(OnDisk(), R"({"k":"2"})");
}

TEST_F(CacheConfigDataTest, MembersThatAreNoStringsReadEmptyUntilReplaced) {
  PutOnDisk("\xEF\xBB\xBF{\"n\":5,\"t\":true,\"o\":{\"x\":\"1\"},\"l\":[1,2],\"s\":\"v\"}");
  CacheConfigData store(AnsiFile());
  EXPECT_EQ(store.GetData("s"), "v") << "a byte-order mark is accepted";
  for (const char* key : {"n", "t", "o", "l"}) EXPECT_EQ(store.GetData(key), "") << key;
  ASSERT_TRUE(store.SetData("o", "now text"));
  EXPECT_EQ(store.GetData("o"), "now text");
  EXPECT_EQ(OnDisk(), R"({"l":[1,2],"n":5,"o":"now text","s":"v","t":true})");
}

TEST_F(CacheConfigDataTest, EmptyObjectIsReadAgainUntilTheStoreHoldsAMember) {
  PutOnDisk("{}");
  CacheConfigData store(AnsiFile());
  store.Load();
  EXPECT_TRUE(store.content.is_object());
  PutOnDisk(R"({"k":"first"})");
  EXPECT_EQ(store.GetData("k"), "first") << "an empty store reads the file again";
  PutOnDisk(R"({"k":"second"})");
  EXPECT_EQ(store.GetData("k"), "first") << "a filled store does not";
}

TEST_F(CacheConfigDataTest, CharactersOutsideTheCodePageBecomeTheDefaultCharacter) {
  // Hangul is in neither code page 1252 nor 936.
  const std::string foreign = "\xED\x95\x9C";
  CacheConfigData store(AnsiFile());
  ASSERT_TRUE(store.SetData("k" + foreign, "v" + foreign));
  EXPECT_EQ(OnDisk(), R"({"k?":"v?"})");
  EXPECT_EQ(store.GetData("k" + foreign), "") << "the key as first given is not found";
  EXPECT_EQ(store.GetData("k?"), "v?");
}

TEST_F(CacheConfigDataTest, AnsiTextIsStoredAsUtf8) {
  CacheConfigData store(AnsiFile());
  // The same character in the code page of this run and in UTF-8.
  const bool chinese = GetACP() == 936;
  const std::string ansi = chinese ? "\xD6\xD0" : "\xE9";
  const std::string utf8 = chinese ? "\xE4\xB8\xAD" : "\xC3\xA9";
  ASSERT_TRUE(store.SetData(ansi, ansi));
  EXPECT_EQ(OnDisk(), "{\"" + utf8 + "\":\"" + utf8 + "\"}");
  EXPECT_EQ(store.GetData(utf8), utf8);
}

TEST_F(CacheConfigDataTest, UnreadableFileIsKeptAsideBeforeTheFirstSave) {
  const std::string bad = "{\"a\": \"1\",";
  PutOnDisk(bad);
  CacheConfigData store(AnsiFile());
  {
    test_support::StdoutCapture log;
    EXPECT_EQ(store.GetData("a"), "");
    const std::string text = log.Text();
    // "json<file parse failed>" in code page 936, with the content and the parser's message.
    EXPECT_NE(text.find("[error "), std::string::npos) << text;
    EXPECT_NE(text.find("json\xCE\xC4\xBC\xFE\xBD\xE2\xCE\xF6\xCA\xA7\xB0\xDC, data: " + bad +
                        ", error: [json.exception.parse_error"),
              std::string::npos)
        << text;
  }
  EXPECT_EQ(OnDisk(), bad) << "reading never changes the file";
  {
    test_support::StdoutCapture log;
    ASSERT_TRUE(store.SetData("b", "1"));
    const std::string text = log.Text();
    EXPECT_NE(text.find("[warning "), std::string::npos) << text;
    EXPECT_NE(text.find("kept as " + AnsiFile() + ".unreadable"), std::string::npos) << text;
  }
  EXPECT_EQ(ReadBytes(folder.File(L"config.data.unreadable")), bad);
  EXPECT_EQ(OnDisk(), R"({"a":null,"b":"1"})");
  ASSERT_TRUE(store.SetData("c", "1"));
  EXPECT_FALSE(PathExists(folder.File(L"config.data.unreadable.1"))) << "kept aside once";

  // A later unreadable file does not overwrite the one kept before.
  PutOnDisk("garbage");
  CacheConfigData next(AnsiFile());
  ASSERT_TRUE(next.SetData("d", "1"));
  EXPECT_EQ(ReadBytes(folder.File(L"config.data.unreadable")), bad);
  EXPECT_EQ(ReadBytes(folder.File(L"config.data.unreadable.1")), "garbage");
  EXPECT_EQ(OnDisk(), R"({"d":"1"})");
}

// Every name to keep the unreadable file under is taken: nothing is saved over it, and
// it stays byte for byte what it was until it can be kept.
TEST_F(CacheConfigDataTest, UnreadableFileThatCannotBeKeptAsideIsNotSavedOver) {
  const std::string bad = "{\"a\": \"1\",";
  PutOnDisk(bad);
  std::vector<std::wstring> taken = {folder.File(L"config.data.unreadable")};
  for (int n = 1; n < 100; ++n) {
    taken.push_back(folder.File(L"config.data.unreadable." + std::to_wstring(n)));
  }
  for (const std::wstring& name : taken) ASSERT_TRUE(CreateDirectoryW(name.c_str(), nullptr));
  CacheConfigData store(AnsiFile());
  {
    test_support::StdoutCapture log;
    EXPECT_FALSE(store.SetData("b", "1"));
    const std::string text = log.Text();
    EXPECT_NE(text.find("unreadable " + AnsiFile() + " could not be kept aside; not saving "
                        "over it"),
              std::string::npos)
        << text;
  }
  EXPECT_EQ(OnDisk(), bad);
  EXPECT_FALSE(PathExists(folder.File(L"config.data.tmp")));
  EXPECT_EQ(store.GetData("b"), "1") << "the change is kept in memory";

  ASSERT_TRUE(RemoveDirectoryW(taken.back().c_str()));
  ASSERT_TRUE(store.SetData("c", "1"));
  EXPECT_EQ(ReadBytes(taken.back()), bad);
  EXPECT_EQ(OnDisk(), R"({"b":"1","c":"1"})");
}

TEST_F(CacheConfigDataTest, FileThatCannotBeReadIsKeptAsideBeforeTheFirstSave) {
  PutOnDisk(R"({"old":"1"})");
  CacheConfigData store(AnsiFile());
  {
    test_support::LockedFile held(File());
    ASSERT_TRUE(held.locked());
    EXPECT_EQ(store.GetData("old"), "");
  }
  ASSERT_TRUE(store.SetData("new", "1"));
  EXPECT_EQ(ReadBytes(folder.File(L"config.data.unreadable")), R"({"old":"1"})");
  EXPECT_EQ(OnDisk(), R"({"new":"1","old":null})");
}

// What the store must not read: a file with another name elsewhere (its content is
// neither returned nor logged, and never written through), a file too large to read
// whole, and nesting so deep that saving it would overflow the stack.
TEST_F(CacheConfigDataTest, LinkedHugeAndDeepFilesAreNotReadAndTheStoreStartsEmpty) {
  test_support::TempDir elsewhere;
  const std::wstring secret = elsewhere.File(L"secret.json");
  ASSERT_TRUE(WriteBytes(secret, R"({"a":"secret-value"})"));
  ASSERT_TRUE(CreateHardLinkW(File().c_str(), secret.c_str(), nullptr)) << GetLastError();
  {
    CacheConfigData store(AnsiFile());
    test_support::StdoutCapture log;
    EXPECT_EQ(store.GetData("a"), "");
    const std::string text = log.Text();
    EXPECT_NE(text.find(AnsiFile() + " is a link or has other names"), std::string::npos) << text;
    EXPECT_EQ(text.find("secret-value"), std::string::npos) << text;
    ASSERT_TRUE(store.SetData("b", "1"));
  }
  EXPECT_EQ(ReadBytes(secret), R"({"a":"secret-value"})");
  EXPECT_EQ(OnDisk(), R"({"a":null,"b":"1"})");

  // 3 GiB, sparse: reading it whole would take more memory than the process has.
  ASSERT_TRUE(DeleteFileW(File().c_str()));
  {
    HANDLE file = CreateFileW(File().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = 3LL << 30;
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
    CacheConfigData store(AnsiFile());
    test_support::StdoutCapture log;
    EXPECT_EQ(store.GetData("a"), "");
    EXPECT_NE(log.Text().find("holds 3221225472 bytes, more than a store may"), std::string::npos)
        << log.Text();
    ASSERT_TRUE(store.SetData("b", "1"));
    WIN32_FILE_ATTRIBUTE_DATA aside = {};
    ASSERT_TRUE(GetFileAttributesExW(folder.File(L"config.data.unreadable").c_str(),
                                     GetFileExInfoStandard, &aside));
    EXPECT_EQ(aside.nFileSizeHigh, 0u);
    EXPECT_EQ(aside.nFileSizeLow, 3u << 30) << "renamed aside, not copied";
    EXPECT_EQ(OnDisk(), R"({"a":null,"b":"1"})");
  }

  // 512 levels (the object and 511 arrays) are read; 300,000 are kept aside unread, and
  // the save after them works.
  for (const size_t depth : {size_t{511}, size_t{300000}}) {
    SCOPED_TRACE(depth);
    const std::string nested = std::string(depth, '[') + std::string(depth, ']');
    PutOnDisk(R"({"a":)" + nested + "}");
    DeleteFileW(folder.File(L"config.data.unreadable").c_str());
    CacheConfigData store(AnsiFile());
    EXPECT_EQ(store.GetData("b"), "");
    ASSERT_TRUE(store.SetData("c", "1"));
    if (depth == 511) {
      EXPECT_EQ(OnDisk(), R"({"a":)" + nested + R"(,"b":null,"c":"1"})");
    } else {
      EXPECT_EQ(OnDisk(), R"({"b":null,"c":"1"})");
      EXPECT_EQ(ReadBytes(folder.File(L"config.data.unreadable")).size(), nested.size() + 6);
    }
  }

  // A file that does not parse shows its first 200 bytes in the error line, no more.
  PutOnDisk("{" + std::string(300, 'x'));
  CacheConfigData garbled(AnsiFile());
  test_support::StdoutCapture log;
  EXPECT_EQ(garbled.GetData("a"), "");
  EXPECT_NE(log.Text().find(", data: {" + std::string(199, 'x') + ", error: "), std::string::npos)
      << log.Text();
}

TEST_F(CacheConfigDataTest, EmptyFileIsAMissingStore) {
  PutOnDisk("");
  CacheConfigData store(AnsiFile());
  ASSERT_TRUE(store.SetData("k", "1"));
  EXPECT_EQ(OnDisk(), R"({"k":"1"})");
  EXPECT_FALSE(PathExists(folder.File(L"config.data.unreadable")));
}

TEST_F(CacheConfigDataTest, TopLevelThatIsNoObjectStartsAnEmptyStore) {
  for (const std::string text : {"[1,2]", "[]", "\"text\"", "42", "true"}) {
    SCOPED_TRACE(text);
    test_support::RemoveTree(folder.path());
    CreateDirectoryW(folder.path().c_str(), nullptr);
    PutOnDisk(text);
    CacheConfigData store(AnsiFile());
    EXPECT_EQ(store.GetData("a"), "");
    ASSERT_TRUE(store.SetData("b", "1"));
    EXPECT_EQ(OnDisk(), R"({"a":null,"b":"1"})");
    EXPECT_EQ(ReadBytes(folder.File(L"config.data.unreadable")), text);
  }
}

TEST_F(CacheConfigDataTest, NullFileIsAnEmptyStore) {
  PutOnDisk("null");
  CacheConfigData store(AnsiFile());
  EXPECT_EQ(store.GetData("a"), "");
  ASSERT_TRUE(store.SetData("b", "1"));
  EXPECT_EQ(OnDisk(), R"({"a":null,"b":"1"})");
  EXPECT_FALSE(PathExists(folder.File(L"config.data.unreadable")));
}

TEST_F(CacheConfigDataTest, MemberThatIsNotUtf8IsLeftOutOfTheFile) {
  CacheConfigData store(AnsiFile());
  EXPECT_EQ(store.GetData("\xFF\xFE"), "");
  EXPECT_EQ(store.GetData("\xC3"), "");
  test_support::StdoutCapture log;
  EXPECT_TRUE(store.SetData("ok", "1"));
  const std::string text = log.Text();
  EXPECT_NE(text.find("[warning "), std::string::npos) << text;
  EXPECT_NE(text.find("member left out of config.data, key: \xFF\xFE"), std::string::npos) << text;
  EXPECT_NE(text.find("member left out of config.data, key: \xC3"), std::string::npos) << text;
  EXPECT_EQ(OnDisk(), R"({"ok":"1"})");
  EXPECT_EQ(store.GetData("ok"), "1");
}

TEST_F(CacheConfigDataTest, MegabyteKeysAndValuesRoundTrip) {
  CacheConfigData store(AnsiFile());
  const std::string key(1 << 20, 'k');
  const std::string value(1 << 20, 'v');
  ASSERT_TRUE(store.SetData(key, value));
  EXPECT_EQ(store.GetData(key), value);
  CacheConfigData restarted(AnsiFile());
  EXPECT_EQ(restarted.GetData(key), value);
  EXPECT_EQ(OnDisk().size(), key.size() + value.size() + 7);
}

TEST_F(CacheConfigDataTest, UnwritableFolderKeepsTheChangeInMemory) {
  CacheConfigData store(folder.FileA("missing\\config.data"));
  EXPECT_FALSE(store.SetData("k", "v"));
  EXPECT_EQ(store.GetData("k"), "v");
}

// The outcomes the full-disk end-to-end case checks on a real small volume, for
// machines where none can be mounted: the save fails with the system's reason, the old
// file stays whole and readable, the change stays in memory for the next save.
TEST_F(CacheConfigDataTest, FullDiskKeepsTheOldFileAndTheChangeForTheNextSave) {
  CacheConfigData store(AnsiFile());
  ASSERT_TRUE(store.SetData("old", "1"));
  const std::string big(300000, 'b');
  std::string text;
  {
    DiskWrite::SimulateFreeBytesForTests(100000);
    test_support::StdoutCapture log;
    const bool saved = store.SetData("big", big);
    text = log.Text();
    DiskWrite::SimulateFreeBytesForTests(-1);
    EXPECT_FALSE(saved);
  }
  EXPECT_EQ(OnDisk(), R"({"old":"1"})");
  EXPECT_FALSE(PathExists(folder.File(L"config.data.tmp")));
  EXPECT_EQ(store.GetData("big"), big);
  // An error naming the file, with the system's reason in its head.
  const size_t line = text.find(AnsiFile() + " not saved");
  ASSERT_NE(line, std::string::npos) << text;
  const size_t head = text.rfind("[error ", line);
  ASSERT_NE(head, std::string::npos) << text;
  EXPECT_NE(text.substr(head, line - head).find("(112)"), std::string::npos) << text;

  ASSERT_TRUE(store.SetData("small", "2"));
  EXPECT_EQ(OnDisk(), R"({"big":")" + big + R"(","old":"1","small":"2"})");
}

TEST_F(CacheConfigDataTest, SaveWaitsBrieflyForAFileHeldByAnotherReader) {
  CacheConfigData store(AnsiFile());
  ASSERT_TRUE(store.SetData("k", "1"));
  auto held = std::make_unique<test_support::LockedFile>(File());
  ASSERT_TRUE(held->locked());
  // Let go only once a move over the held file was refused: the save must try again.
  const long refusedBefore = FileReplace::HeldRefusals();
  std::thread release([&held, refusedBefore] {
    const DWORD start = GetTickCount();
    while (FileReplace::HeldRefusals() == refusedBefore && GetTickCount() - start < 10000) Sleep(1);
    held.reset();
  });
  EXPECT_TRUE(store.SetData("k", "2"));
  release.join();
  EXPECT_GE(FileReplace::HeldRefusals() - refusedBefore, 1);
  EXPECT_EQ(OnDisk(), R"({"k":"2"})");
  EXPECT_FALSE(PathExists(folder.File(L"config.data.tmp")));
}

TEST_F(CacheConfigDataTest, SaveGivesUpOnAFileHeldForLongAndKeepsItIntact) {
  CacheConfigData store(AnsiFile());
  ASSERT_TRUE(store.SetData("k", "1"));
  {
    test_support::LockedFile held(File());
    ASSERT_TRUE(held.locked());
    EXPECT_FALSE(store.SetData("k", "2"));
  }
  EXPECT_EQ(OnDisk(), R"({"k":"1"})");
  EXPECT_FALSE(PathExists(folder.File(L"config.data.tmp")));
  EXPECT_TRUE(store.SetData("k", "3"));
  EXPECT_EQ(OnDisk(), R"({"k":"3"})");
}

TEST_F(CacheConfigDataTest, StaleTemporaryFileFromAKilledSaveIsOverwritten) {
  ASSERT_TRUE(WriteBytes(folder.File(L"config.data.tmp"), "{\"half"));
  CacheConfigData store(AnsiFile());
  ASSERT_TRUE(store.SetData("k", "1"));
  EXPECT_EQ(OnDisk(), R"({"k":"1"})");
  EXPECT_FALSE(PathExists(folder.File(L"config.data.tmp")));
}

// A process killed at any moment while it saves leaves a readable file that still
// holds every key saved before.
TEST_F(CacheConfigDataTest, KillingASavingProcessNeverLosesTheFile) {
  PutOnDisk(R"({"seed":"kept"})");
  const unsigned seed = GetTickCount();
  RecordProperty("seed", std::to_string(seed));
  printf("kill times drawn with seed %u\n", seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  size_t keysBefore = 1;
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    ChildProcess saver(L"save", File());
    ASSERT_TRUE(saver.ready()) << saver.why();
    Sleep(random() % 25);
    saver.Kill();
    const std::string bytes = OnDisk();
    Json saved;
    ASSERT_NO_THROW(saved = Json::parse(bytes)) << bytes.substr(0, 200);
    ASSERT_TRUE(saved.is_object());
    EXPECT_EQ(saved.value("seed", ""), "kept");
    ASSERT_GE(saved.size(), keysBefore) << "keys saved before the kill went missing";
    keysBefore = saved.size();
  }
  EXPECT_GT(keysBefore, 1u) << "the saver never saved";
}

}  // namespace
