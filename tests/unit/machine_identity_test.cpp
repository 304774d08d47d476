#include "sys/machine_identity.h"

#include <gtest/gtest.h>
#include <bcrypt.h>
#include <iphlpapi.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <regex>
#include <vector>

#include "registry_fixture.h"

namespace {

constexpr uint32_t kPermanent = 0x01010101;
constexpr uint32_t kCurrent = 0x01010102;
constexpr const char* kCryptographyKey = "SOFTWARE\\Microsoft\\Cryptography";
constexpr const char* kSqmKey = "SOFTWARE\\Microsoft\\SQMClient";

// MD5 by the system's CNG provider, independent of the product's digest. (The older
// crypto API is no use here: Wine writes a MachineGuid when it is first acquired.)
std::string SystemMd5(const std::string& bytes) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  std::string hex;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0) != 0) return hex;
  BCRYPT_HASH_HANDLE hash = nullptr;
  UCHAR digest[16] = {};
  if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
    if (BCryptHashData(hash, reinterpret_cast<UCHAR*>(const_cast<char*>(bytes.data())),
                       static_cast<ULONG>(bytes.size()), 0) == 0 &&
        BCryptFinishHash(hash, digest, sizeof(digest), 0) == 0) {
      for (UCHAR b : digest) {
        hex += "0123456789abcdef"[b >> 4];
        hex += "0123456789abcdef"[b & 15];
      }
    }
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return hex;
}

using Address = std::array<uint8_t, 6>;

struct FakeAdapter {
  std::string name;
  bool opens = true;
  std::optional<Address> permanent;
  std::optional<Address> current;
};

// Stands in for the adapter list and the adapters' drivers, and records the walk.
class FakeAdapters : public MachineIdentity::AdapterSource {
 public:
  bool listed = true;
  std::vector<FakeAdapter> adapters;
  std::vector<std::string> opened;        // device paths asked for
  std::vector<std::string> queries;       // "name:oid"

  bool ListAdapters(std::vector<std::string>& names) override {
    if (!listed) return false;
    for (const FakeAdapter& adapter : adapters) names.push_back(adapter.name);
    return true;
  }

  std::unique_ptr<MachineIdentity::AdapterDevice> Open(const std::string& devicePath) override {
    opened.push_back(devicePath);
    for (const FakeAdapter& adapter : adapters) {
      if (devicePath == "\\\\.\\" + adapter.name && adapter.opens) {
        return std::make_unique<Device>(adapter, queries);
      }
    }
    return nullptr;
  }

 private:
  class Device : public MachineIdentity::AdapterDevice {
   public:
    Device(const FakeAdapter& adapter, std::vector<std::string>& log)
        : adapter_(adapter), log_(log) {}
    bool Query(uint32_t oid, uint8_t (&reply)[MachineIdentity::kNdisReplySize]) override {
      log_.push_back(adapter_.name + ":" + (oid == kPermanent ? "permanent" : "current"));
      const std::optional<Address>& address =
          oid == kPermanent ? adapter_.permanent : oid == kCurrent ? adapter_.current
                                                                   : std::nullopt;
      if (!address) return false;
      memcpy(reply, address->data(), address->size());
      return true;
    }

   private:
    FakeAdapter adapter_;
    std::vector<std::string>& log_;
  };
};

const Address kAddressA = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
const Address kAddressB = {0xf0, 0xe1, 0xd2, 0xc3, 0xb4, 0xa5};

std::string Mac(FakeAdapters& adapters) {
  std::string out;
  MachineIdentity::GetMacAddress(out, adapters);
  return out;
}

TEST(MacAddressWalk, PermanentAddressWinsOverCurrent) {
  FakeAdapters fake;
  fake.adapters = {{"{A}", true, kAddressA, kAddressB}};
  EXPECT_EQ(Mac(fake), "001A2B3C4D5E");
  EXPECT_EQ(fake.opened, std::vector<std::string>{"\\\\.\\{A}"});
}

TEST(MacAddressWalk, OnlyCurrentAddressIsMarked) {
  FakeAdapters fake;
  fake.adapters = {{"{A}", true, std::nullopt, kAddressB}};
  EXPECT_EQ(Mac(fake), "1:F0E1D2C3B4A5");
}

TEST(MacAddressWalk, AdapterThatDoesNotOpenIsSkipped) {
  FakeAdapters fake;
  fake.adapters = {{"{A}", false, kAddressA, kAddressA}, {"{B}", true, kAddressB, std::nullopt}};
  EXPECT_EQ(Mac(fake), "F0E1D2C3B4A5");
  EXPECT_EQ(fake.opened, (std::vector<std::string>{"\\\\.\\{A}", "\\\\.\\{B}"}));
}

TEST(MacAddressWalk, AdapterThatAnswersNeitherQueryIsSkipped) {
  FakeAdapters fake;
  fake.adapters = {{"{A}", true, std::nullopt, std::nullopt}, {"{B}", true, std::nullopt, kAddressA}};
  EXPECT_EQ(Mac(fake), "1:001A2B3C4D5E");
  EXPECT_EQ(fake.queries, (std::vector<std::string>{"{A}:permanent", "{A}:current",
                                                    "{B}:permanent", "{B}:current"}));
}

TEST(MacAddressWalk, FirstAdapterThatAnswersDecides) {
  FakeAdapters fake;
  // The first answers only the current address; the second's permanent one is not sought.
  fake.adapters = {{"{A}", true, std::nullopt, kAddressA}, {"{B}", true, kAddressB, kAddressB}};
  EXPECT_EQ(Mac(fake), "1:001A2B3C4D5E");
  EXPECT_EQ(fake.opened, std::vector<std::string>{"\\\\.\\{A}"});
}

TEST(MacAddressWalk, NoAdapterGivesEmptyText) {
  FakeAdapters none;
  EXPECT_EQ(Mac(none), "");
  FakeAdapters noList;
  noList.listed = false;
  noList.adapters = {{"{A}", true, kAddressA, kAddressA}};
  EXPECT_EQ(Mac(noList), "");
  EXPECT_TRUE(noList.opened.empty());
  FakeAdapters silent;
  silent.adapters = {{"{A}", false, kAddressA, kAddressA}, {"{B}", true, std::nullopt, std::nullopt}};
  EXPECT_EQ(Mac(silent), "");
}

// Under Wine every listed adapter's device answers with the interface's address, so
// the first listed adapter decides.
TEST(MacAddressWalk, RealAdaptersGiveFirstAdaptersAddress) {
  ULONG size = 0;
  // Without an adapter both sides would be empty and prove nothing.
  if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) {
    GTEST_SKIP() << "the system lists no network adapter";
  }
  std::vector<uint64_t> storage(size / sizeof(uint64_t) + 1);
  auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(storage.data());
  ASSERT_EQ(GetAdaptersInfo(list, &size), static_cast<DWORD>(ERROR_SUCCESS));
  char text[16] = {};
  snprintf(text, sizeof(text), "%02X%02X%02X%02X%02X%02X", list->Address[0], list->Address[1],
           list->Address[2], list->Address[3], list->Address[4], list->Address[5]);
  const std::string expected = text;
  std::string mac;
  MachineIdentity::GetMacAddress(mac);
  EXPECT_EQ(mac, expected);
}

// The machine values live in the 64-bit view; each test starts without them and the
// values found before are put back afterwards.
class DeviceNumberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto* saved : {&guid64_, &guid32_, &id64_, &id32_}) saved->reset();
    guid64_.emplace(kCryptographyKey, KEY_WOW64_64KEY, "MachineGuid");
    id64_.emplace(kSqmKey, KEY_WOW64_64KEY, "MachineId");
    if (test_registry::HasTwoViews()) {
      guid32_.emplace(kCryptographyKey, KEY_WOW64_32KEY, "MachineGuid");
      id32_.emplace(kSqmKey, KEY_WOW64_32KEY, "MachineId");
      test_registry::DeleteValue(kCryptographyKey, KEY_WOW64_32KEY, "MachineGuid");
      test_registry::DeleteValue(kSqmKey, KEY_WOW64_32KEY, "MachineId");
    }
    test_registry::DeleteValue(kCryptographyKey, KEY_WOW64_64KEY, "MachineGuid");
    test_registry::DeleteValue(kSqmKey, KEY_WOW64_64KEY, "MachineId");
    fake_.adapters = {{"{A}", true, kAddressA, std::nullopt}};
  }
  void TearDown() override {
    for (auto* saved : {&guid64_, &guid32_, &id64_, &id32_}) saved->reset();
  }

  void SetGuid(const std::string& text) {
    ASSERT_TRUE(test_registry::SetText(kCryptographyKey, KEY_WOW64_64KEY, "MachineGuid", text));
  }
  void SetId(const std::string& text) {
    ASSERT_TRUE(test_registry::SetText(kSqmKey, KEY_WOW64_64KEY, "MachineId", text));
  }

  FakeAdapters fake_;
  std::optional<test_registry::SavedValue> guid64_, guid32_, id64_, id32_;
};

const char kGuid[] = "6f1c7e0a-3b52-4d8e-9a41-0c2f5b7d8e90";
const char kId[] = "{8B2D4E6F-1A3C-4B5D-9E7F-0123456789AB}";

TEST_F(DeviceNumberTest, DigestOfMacGuidAndIdJoined) {
  SetGuid(kGuid);
  SetId(kId);
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(fake_),
            SystemMd5(std::string("001A2B3C4D5E") + kGuid + kId));
}

TEST_F(DeviceNumberTest, MissingValueLeavesItsPieceOut) {
  SetGuid(kGuid);
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(fake_), SystemMd5(std::string("001A2B3C4D5E") + kGuid));
  test_registry::DeleteValue(kCryptographyKey, KEY_WOW64_64KEY, "MachineGuid");
  SetId(kId);
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(fake_), SystemMd5(std::string("001A2B3C4D5E") + kId));
}

TEST_F(DeviceNumberTest, NothingKnownGivesDigestOfEmptyText) {
  FakeAdapters none;
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(none), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(fake_), SystemMd5("001A2B3C4D5E"));
}

TEST_F(DeviceNumberTest, ValueLongerThanItsBufferReadsAsEmpty) {
  SetGuid(std::string(300, 'g'));
  SetId(kId);
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(fake_), SystemMd5(std::string("001A2B3C4D5E") + kId));
}

TEST_F(DeviceNumberTest, ValueFillingItsBufferWithoutTerminatorEndsThere) {
  // 260 bytes and no zero among them: the text is exactly those bytes, nothing after.
  const std::string full(260, 'q');
  ASSERT_TRUE(test_registry::SetValue(kCryptographyKey, KEY_WOW64_64KEY, "MachineGuid",
                                      REG_BINARY, full));
  SetId(kId);
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(fake_),
            SystemMd5(std::string("001A2B3C4D5E") + full + kId));
}

TEST_F(DeviceNumberTest, ReadsTheSixtyFourBitView) {
  if (!test_registry::HasTwoViews()) GTEST_SKIP() << "one registry view only";
  ASSERT_TRUE(test_registry::SetText(kCryptographyKey, KEY_WOW64_32KEY, "MachineGuid", "decoy"));
  ASSERT_TRUE(test_registry::SetText(kSqmKey, KEY_WOW64_32KEY, "MachineId", "decoy-id"));
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(fake_), SystemMd5("001A2B3C4D5E"));
  SetGuid(kGuid);
  SetId(kId);
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(fake_),
            SystemMd5(std::string("001A2B3C4D5E") + kGuid + kId));
}

TEST_F(DeviceNumberTest, CurrentAddressChangeDoesNotMatterWhilePermanentAnswers) {
  SetGuid(kGuid);
  const std::string before = MachineIdentity::GetDeviceNumber(fake_);
  fake_.adapters[0].current = kAddressB;
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(fake_), before);
}

TEST_F(DeviceNumberTest, RealCallIsStableAndMatchesItsPieces) {
  SetGuid(kGuid);
  SetId(kId);
  std::string mac;
  MachineIdentity::GetMacAddress(mac);
  const std::string first = MachineIdentity::GetDeviceNumber();
  EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{32}"))) << first;
  EXPECT_EQ(first, SystemMd5(mac + kGuid + kId));
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(), first);
  EXPECT_EQ(MachineIdentity::GetDeviceNumber(), first);
}

}  // namespace
