#include "app/cache_security.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "unit/test_support.h"

namespace {

using CacheSecurity::FolderAccess;
using CacheSecurity::FolderDescriptor;
using CacheSecurity::LetsOtherUsersWrite;
using CacheSecurity::ProtectExistingFolder;
using CacheSecurity::TokenUser;

using test_support::CountLines;

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!sid || !ConvertSidToStringSidW(sid, &text)) return {};
  std::wstring result = text;
  LocalFree(text);
  return result;
}

// The access list of a descriptor as SDDL text.
std::wstring DaclText(PSECURITY_DESCRIPTOR descriptor) {
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"<not convertible>";
  }
  std::wstring result = text;
  LocalFree(text);
  return result;
}

// SDDL text as a descriptor, freed when the object goes.
class Sddl {
 public:
  explicit Sddl(const std::wstring& text) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                              &descriptor_, nullptr)) {
      descriptor_ = nullptr;
    }
  }
  ~Sddl() {
    if (descriptor_) LocalFree(descriptor_);
  }
  Sddl(const Sddl&) = delete;
  Sddl& operator=(const Sddl&) = delete;

  bool valid() const { return descriptor_ != nullptr; }
  PSECURITY_DESCRIPTOR get() const { return descriptor_; }
  bool LetsOthersWrite() const {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor_, &present, &dacl, &defaulted);
    return LetsOtherUsersWrite(present != FALSE, dacl);
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

std::wstring ProcessUserSid() { return SidText(TokenUser(nullptr).sid()); }

std::wstring OwnDaclFor(const std::wstring& sid) {
  return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")";
}

TEST(FolderDescriptor, GrantsSystemAdministratorsAndTheUserOnlyAndIgnoresTheParent) {
  const TokenUser user(nullptr);
  ASSERT_NE(user.sid(), nullptr);
  // The user of an explicit token (the console user's, when running as SYSTEM) is
  // read the same way.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_EQ(SidText(TokenUser(token).sid()), SidText(user.sid()));
  CloseHandle(token);

  FolderDescriptor descriptor(user.sid());
  SECURITY_ATTRIBUTES* attributes = descriptor.attributes();
  ASSERT_NE(attributes, nullptr);
  EXPECT_EQ(attributes->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_FALSE(attributes->bInheritHandle);
  EXPECT_EQ(DaclText(attributes->lpSecurityDescriptor), OwnDaclFor(SidText(user.sid())));
  EXPECT_FALSE(LetsOtherUsersWrite(true, descriptor.dacl()));

  // Running as SYSTEM without a console user: SYSTEM's own folder, no double entry.
  Sddl system(L"O:SY");
  PSID systemSid = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(system.get(), &systemSid, &defaulted));
  FolderDescriptor forSystem(systemSid);
  ASSERT_NE(forSystem.attributes(), nullptr);
  EXPECT_EQ(DaclText(forSystem.attributes()->lpSecurityDescriptor),
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");

  // No user: no descriptor at all (the parent's security), never one that locks the
  // user out.
  FolderDescriptor none(nullptr);
  EXPECT_EQ(none.attributes(), nullptr);
  EXPECT_EQ(none.dacl(), nullptr);
}

TEST(LetsOtherUsersWrite, GrantsOfWriteRightsToEveryoneAuthenticatedUsersOrUsers) {
  const std::wstring me = ProcessUserSid();
  struct Case {
    std::wstring sddl;
    bool othersWrite;
  };
  const Case cases[] = {
      {L"D:(A;OICI;GA;;;AU)", true},  // what older versions created
      {L"D:(A;OICI;FA;;;WD)", true},
      {L"D:(A;OICI;0x1301ff;;;WD)", true},  // how Wine shows a world-writable folder
      {L"D:(A;;0x2;;;BU)", true},           // add a file
      {L"D:(A;;0x4;;;BU)", true},           // add a folder
      {L"D:(A;;0x40;;;AU)", true},          // delete what is inside
      {L"D:(A;;SD;;;WD)", true},
      {L"D:(A;;WD;;;AU)", true},  // change the access list
      {L"D:(A;;WO;;;BU)", true},  // take ownership
      {L"D:(A;;GW;;;BU)", true},
      {L"D:(A;OICIIO;GA;;;AU)", true},  // reaches only what is created inside
      {L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + me + L")(A;OICI;GA;;;AU)", true},
      {OwnDaclFor(me), false},
      {L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + me + L")(A;OICI;0x1200a9;;;WD)", false},
      {L"D:(A;OICI;FR;;;BU)(A;OICI;FX;;;AU)", false},  // reading and listing
      {L"D:(A;;0x100;;;WD)(A;;0x10;;;BU)", false},     // attributes only
      {L"D:(D;OICI;FA;;;WD)", false},                  // a denial grants nothing
      {L"D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)", false},  // a named user is left alone
      {L"D:(A;OICI;FA;;;CO)(A;OICI;FA;;;BA)", false},
      {L"D:", false},  // an empty list lets nobody in
  };
  for (const Case& c : cases) {
    Sddl descriptor(c.sddl);
    ASSERT_TRUE(descriptor.valid()) << test_support::Narrow(c.sddl);
    EXPECT_EQ(descriptor.LetsOthersWrite(), c.othersWrite) << test_support::Narrow(c.sddl);
  }
  // No list at all lets everyone do everything.
  EXPECT_TRUE(LetsOtherUsersWrite(false, nullptr));
  EXPECT_TRUE(LetsOtherUsersWrite(true, nullptr));
}

// Access lists kept in memory, as a file system that keeps them would.
class RememberingAccess : public FolderAccess {
 public:
  DWORD Read(const std::wstring& folder, PSECURITY_DESCRIPTOR* descriptor) override {
    ++reads;
    if (readError) return readError;
    auto found = dacls.find(folder);
    if (found == dacls.end()) return ERROR_FILE_NOT_FOUND;
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(
               found->second.c_str(), SDDL_REVISION_1, descriptor, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
  }
  DWORD Replace(const std::wstring& folder, PACL dacl) override {
    ++replaces;
    if (replaceError) return replaceError;
    if (!keep) return ERROR_SUCCESS;
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    dacls[folder] = DaclText(&descriptor);
    return ERROR_SUCCESS;
  }

  std::map<std::wstring, std::wstring> dacls;
  DWORD readError = ERROR_SUCCESS;
  DWORD replaceError = ERROR_SUCCESS;
  bool keep = true;
  int reads = 0;
  int replaces = 0;
};

// Folder names of their own per case: a process repairs each folder once.
std::wstring Folder(const char* name) {
  return L"C:\\remembered\\" + std::wstring(name, name + strlen(name));
}

TEST(ProtectExistingFolder, FolderOthersCanWriteIsLimitedToItsUserOnceWithOneLine) {
  const TokenUser user(nullptr);
  const std::wstring me = SidText(user.sid());
  const wchar_t* const weakLists[] = {L"D:(A;OICI;GA;;;AU)", L"D:(A;;0x1301ff;;;WD)",
                                      L"D:(A;OICIIO;GW;;;BU)"};
  for (size_t i = 0; i < 3; ++i) {
    const wchar_t* weak = weakLists[i];
    const std::string name = "weak" + std::to_string(i);
    const std::wstring folder = Folder(name.c_str());
    RememberingAccess access;
    access.dacls[folder] = weak;
    test_support::StdoutCapture out;
    ProtectExistingFolder(folder, nullptr, access);
    ProtectExistingFolder(folder, nullptr, access);
    const std::string log = out.Text();
    EXPECT_EQ(access.replaces, 1) << test_support::Narrow(weak);
    EXPECT_EQ(access.reads, 2);
    EXPECT_EQ(access.dacls[folder], OwnDaclFor(me));
    EXPECT_EQ(CountLines(log), 1u) << log;
    EXPECT_EQ(log.rfind("[warning ", 0), 0u) << log;
    EXPECT_NE(log.find("C:\\remembered\\" + name + " let other users write"), std::string::npos)
        << log;
  }
}

// What three looks at one folder write to the log.
std::string LogOfThreeLooks(const char* name, const wchar_t* dacl, RememberingAccess& access) {
  access.dacls[Folder(name)] = dacl;
  test_support::StdoutCapture out;
  for (int i = 0; i < 3; ++i) ProtectExistingFolder(Folder(name), nullptr, access);
  return out.Text();
}

TEST(ProtectExistingFolder, RepairThatDoesNotTakeOrFailsIsTriedAndLoggedOnce) {
  RememberingAccess forgetful;  // answers success but keeps the old list
  forgetful.keep = false;
  std::string log = LogOfThreeLooks("forgetful", L"D:(A;OICI;FA;;;WD)", forgetful);
  EXPECT_EQ(forgetful.replaces, 1);
  EXPECT_EQ(CountLines(log), 1u) << log;

  RememberingAccess denied;
  denied.replaceError = ERROR_ACCESS_DENIED;
  log = LogOfThreeLooks("denied", L"D:(A;OICI;GA;;;AU)", denied);
  EXPECT_EQ(denied.replaces, 1);
  EXPECT_EQ(CountLines(log), 1u) << log;
  EXPECT_EQ(log.rfind("[error ", 0), 0u) << log;
  EXPECT_NE(log.find("could not be limited to its user (error 5)"), std::string::npos) << log;

  // Without the user's identity no repair is made: it would lock the user out.
  RememberingAccess unknownUser;
  unknownUser.dacls[Folder("nobody")] = L"D:(A;OICI;GA;;;AU)";
  HANDLE noToken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  test_support::StdoutCapture out;
  ProtectExistingFolder(Folder("nobody"), noToken, unknownUser);
  CloseHandle(noToken);
  log = out.Text();
  EXPECT_EQ(unknownUser.replaces, 0);
  EXPECT_EQ(unknownUser.dacls[Folder("nobody")], L"D:(A;OICI;GA;;;AU)");
  EXPECT_NE(log.find("[error "), std::string::npos) << log;
}

TEST(ProtectExistingFolder, SafeOrUnreadableFolderIsLeftAlone) {
  const TokenUser user(nullptr);
  const std::wstring safe[] = {
      OwnDaclFor(SidText(user.sid())),
      L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + SidText(user.sid()) + L")(A;OICI;0x1200a9;;;WD)",
      L"D:(A;OICI;FA;;;BA)(A;OICI;FX;;;BU)"};
  for (const std::wstring& dacl : safe) {
    RememberingAccess access;
    access.dacls[Folder("safe")] = dacl;
    test_support::StdoutCapture out;
    ProtectExistingFolder(Folder("safe"), nullptr, access);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(access.replaces, 0);
    EXPECT_EQ(access.dacls[Folder("safe")], dacl);
  }
  RememberingAccess unreadable;
  unreadable.readError = ERROR_ACCESS_DENIED;
  test_support::StdoutCapture out;
  for (int i = 0; i < 3; ++i) ProtectExistingFolder(Folder("unreadable"), nullptr, unreadable);
  const std::string log = out.Text();
  EXPECT_EQ(unreadable.replaces, 0);
  EXPECT_EQ(CountLines(log), 1u) << "said once: " << log;
  EXPECT_EQ(log.rfind("[warning ", 0), 0u) << log;
}

// Wine keeps no access lists of its own but shows the Unix permissions as one: a
// folder every Unix user may write is a folder Everyone may write.
TEST(ProtectExistingFolderOnDisk, FolderEveryoneCanWriteIsPutRightForReal) {
  test_support::TempDir dir;
  const std::wstring folder = dir.File(L"cache");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(test_support::LetEveryoneWrite(folder));
  FolderAccess& system = CacheSecurity::SystemFolderAccess();
  auto readBack = [&]() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(system.Read(folder, &descriptor), static_cast<DWORD>(ERROR_SUCCESS));
    const std::wstring text = descriptor ? DaclText(descriptor) : L"";
    if (descriptor) LocalFree(descriptor);
    return text;
  };
  const std::wstring before = readBack();
  ASSERT_TRUE(Sddl(before).LetsOthersWrite()) << test_support::Narrow(before);

  const TokenUser user(nullptr);
  test_support::StdoutCapture out;
  ProtectExistingFolder(folder, nullptr);
  ProtectExistingFolder(folder, nullptr);
  const std::string log = out.Text();
  const std::wstring after = readBack();
  EXPECT_FALSE(Sddl(after).LetsOthersWrite()) << test_support::Narrow(after);
  // The user keeps full control.
  EXPECT_NE(after.find(L"FA;;;" + SidText(user.sid()) + L")"), std::wstring::npos)
      << test_support::Narrow(after);
  EXPECT_EQ(CountLines(log), 1u) << log;
  EXPECT_NE(log.find("let other users write"), std::string::npos) << log;
  // Files can still be made there.
  EXPECT_TRUE(test_support::WriteBytes(folder + L"\\config.data", "{}"));

  EXPECT_NE(system.Replace(dir.File(L"missing"), FolderDescriptor(user.sid()).dacl()),
            static_cast<DWORD>(ERROR_SUCCESS));
}

}  // namespace
