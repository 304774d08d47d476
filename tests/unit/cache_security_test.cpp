// The security decisions behind the cache folder. Wine keeps no access lists of its
// own (it shows Unix permissions as one), so what it cannot show goes through lists
// kept in memory here; a folder every Unix user may write is repaired for real end
// to end, and whether the repair reaches through a link shows in those permissions.
#include "app/cache_security.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "unit/test_support.h"

namespace {

using CacheSecurity::FolderDescriptor;
using CacheSecurity::LetsOthersWrite;
using CacheSecurity::ProtectExistingFolder;
using CacheSecurity::TokenUser;
using test_support::CountLines;

std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!sid || !ConvertSidToStringSidW(sid, &text)) return L"<none>";
  std::wstring result = text;
  LocalFree(text);
  return result;
}

std::wstring DaclText(PSECURITY_DESCRIPTOR descriptor) {
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"<none>";
  }
  std::wstring result = text;
  LocalFree(text);
  return result;
}

bool SddlLetsOthersWrite(const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    ADD_FAILURE() << "not SDDL: " << Narrow(sddl);
    return false;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  const bool others = LetsOthersWrite(present != FALSE, dacl, TokenUser(nullptr).sid());
  LocalFree(descriptor);
  return others;
}

const std::wstring& Me() {
  static const std::wstring me = SidText(TokenUser(nullptr).sid());
  return me;
}

std::wstring OwnDacl() { return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + Me() + L")"; }

// The access list at path as the system reads it (under Wine, from the Unix permissions).
std::wstring ListAt(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return L"<unread>";
  }
  const std::wstring text = DaclText(descriptor);
  LocalFree(descriptor);
  return text;
}

bool LetEveryoneWrite(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  const DWORD set = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                          DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                          nullptr);
  LocalFree(descriptor);
  return set == ERROR_SUCCESS;
}


// Runs the Linux command with the Linux names of paths after it (Wine starts a Linux
// program named by its path), then waits for there to be an entry at last or not:
// the handle Wine gives does not tell when the program ended.
bool OnLinux(const std::string& command, const std::vector<std::wstring>& paths, bool made) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
  if (!unixName) return false;
  std::string line = command;
  for (const std::wstring& path : paths) {
    char* name = unixName(path.c_str());
    if (!name) return false;
    line += std::string(" \"") + name + "\"";
    HeapFree(GetProcessHeap(), 0, name);
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const std::string program = "Z:\\bin\\" + command.substr(0, command.find(' '));
  if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int wait = 0; wait < 500 && test_support::PathExists(paths.back()) != made; ++wait) {
    Sleep(10);
  }
  return test_support::PathExists(paths.back()) == made;
}

// A symbolic link at link to target. Wine 8 answers CreateSymbolicLinkW without making
// one, and does not remove every link it shows: there Linux does both, as the end-to-end cases do.
bool MakeLink(const std::wstring& link, const std::wstring& target, bool folder) {
  using CreateLink = BOOLEAN(WINAPI*)(const wchar_t*, const wchar_t*, DWORD);
  const auto create = reinterpret_cast<CreateLink>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW"));
  if (create && create(link.c_str(), target.c_str(), folder ? 1 : 0) &&
      test_support::PathExists(link)) {
    return true;
  }
  return OnLinux("ln -s", {target, link}, true);
}

bool RemoveLink(const std::wstring& link) {
  return OnLinux("rm", {link}, false) || DeleteFileW(link.c_str()) ||
         RemoveDirectoryW(link.c_str());
}

TEST(CacheSecurity, NewFolderIsForSystemAdministratorsAndItsUserOnly) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  const TokenUser user(token);  // as for the console user's token under SYSTEM
  CloseHandle(token);
  ASSERT_EQ(SidText(user.sid()), Me());
  FolderDescriptor security(user.sid());
  ASSERT_NE(security.attributes(), nullptr);
  EXPECT_EQ(DaclText(security.attributes()->lpSecurityDescriptor), OwnDacl());

  // SYSTEM's own folder has no second entry for it.
  BYTE system[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(system);
  ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
  FolderDescriptor forSystem(system);
  EXPECT_EQ(DaclText(forSystem.attributes()->lpSecurityDescriptor),
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  // Without a user, nothing that would lock the user out: the parent's security.
  EXPECT_EQ(FolderDescriptor(nullptr).attributes(), nullptr);
}

TEST(CacheSecurity, WriteGrantsToAnyoneButSystemAdministratorsAndTheUserLetOthersWrite) {
  const wchar_t* const others[] = {
      L"D:(A;OICI;GA;;;AU)",       // what older versions created
      L"D:(A;OICI;0x1301ff;;;WD)",  // how Wine shows a world-writable folder
      L"D:(A;;0x2;;;BU)",          // add a file
      L"D:(A;;0x40;;;AU)",         // delete what is inside
      L"D:(A;;WDWO;;;AU)",         // change the access list or the owner
      L"D:(A;OICIIO;GW;;;WD)",     // reaches only what is created inside
      L"D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)",  // another named user
      L"D:(A;OICIIO;FA;;;CO)",     // whoever plants a file inside
  };
  for (const wchar_t* sddl : others) EXPECT_TRUE(SddlLetsOthersWrite(sddl)) << Narrow(sddl);
  const std::wstring notOthers[] = {
      OwnDacl(),
      L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + Me() + L")(A;OICI;0x1200a9;;;WD)",
      L"D:(A;OICI;FR;;;BU)(A;OICI;FX;;;AU)(A;;0x100;;;WD)",  // read, run, set attributes
      L"D:(D;OICI;FA;;;WD)",                                  // a denial grants nothing
      L"D:",
  };
  for (const std::wstring& sddl : notOthers) {
    EXPECT_FALSE(SddlLetsOthersWrite(sddl)) << Narrow(sddl);
  }
  // No list at all lets everyone do everything.
  EXPECT_TRUE(LetsOthersWrite(false, nullptr, nullptr));
  EXPECT_TRUE(LetsOthersWrite(true, nullptr, nullptr));
}

// Access lists kept in memory, as a file system that keeps them would.
class RememberingAccess : public CacheSecurity::FolderAccess {
 public:
  explicit RememberingAccess(const std::wstring& dacl) : dacl(dacl) {}
  DWORD Read(const std::wstring&, PSECURITY_DESCRIPTOR* descriptor) override {
    if (readError) return readError;
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(dacl.c_str(), SDDL_REVISION_1,
                                                                descriptor, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
  }
  DWORD Replace(const std::wstring&, PACL newDacl) override {
    ++replaces;
    if (replaceError || !keep) return replaceError;
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, newDacl, FALSE);
    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    dacl = DaclText(&descriptor);
    return ERROR_SUCCESS;
  }

  std::wstring dacl;
  DWORD readError = ERROR_SUCCESS;
  DWORD replaceError = ERROR_SUCCESS;
  bool keep = true;
  int replaces = 0;
};

// The log of three looks at a folder of its own (a process repairs a folder once).
std::string LogOfThreeLooks(RememberingAccess& access, HANDLE userToken = nullptr) {
  static int folders = 0;
  const std::wstring folder = L"C:\\remembered\\" + std::to_wstring(++folders);
  test_support::StdoutCapture out;
  for (int i = 0; i < 3; ++i) ProtectExistingFolder(folder, userToken, access);
  return out.Text();
}

TEST(CacheSecurity, ExistingFolderOthersCanWriteIsRepairedOnceWithOneLine) {
  RememberingAccess weak(L"D:(A;OICI;GA;;;AU)");
  std::string log = LogOfThreeLooks(weak);
  EXPECT_EQ(weak.replaces, 1);
  EXPECT_EQ(weak.dacl, OwnDacl());
  EXPECT_EQ(CountLines(log), 1u) << log;
  EXPECT_EQ(log.rfind("[warning ", 0), 0u) << log;
  EXPECT_NE(log.find("let other users write; now only SYSTEM, Administrators and its user"),
            std::string::npos)
      << log;

  // A repair that does not take, or fails, is tried and said once.
  RememberingAccess forgetful(L"D:(A;OICI;FA;;;WD)");
  forgetful.keep = false;
  log = LogOfThreeLooks(forgetful);
  EXPECT_EQ(forgetful.replaces, 1);
  EXPECT_EQ(CountLines(log), 1u) << log;
  RememberingAccess denied(L"D:(A;OICI;GA;;;AU)");
  denied.replaceError = ERROR_ACCESS_DENIED;
  log = LogOfThreeLooks(denied);
  EXPECT_EQ(denied.replaces, 1);
  EXPECT_EQ(CountLines(log), 1u) << log;
  EXPECT_NE(log.find("could not be limited to its user (error 5)"), std::string::npos) << log;

  // Without the user's identity nothing is changed: it would lock the user out.
  RememberingAccess unknownUser(L"D:(A;OICI;GA;;;AU)");
  HANDLE notAToken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  log = LogOfThreeLooks(unknownUser, notAToken);
  CloseHandle(notAToken);
  EXPECT_EQ(unknownUser.dacl, L"D:(A;OICI;GA;;;AU)");
  EXPECT_EQ(log.rfind("[error ", 0), 0u) << log;

  // A folder someone else owns is taken back, its list fine or not.
  RememberingAccess squatted(L"O:S-1-5-21-1-2-3-1001" + OwnDacl());
  log = LogOfThreeLooks(squatted);
  EXPECT_EQ(squatted.replaces, 1);
  EXPECT_EQ(CountLines(log), 1u) << log;

  // A safe folder is left alone without a word; an unreadable one is said once.
  RememberingAccess safe(OwnDacl());
  EXPECT_EQ(LogOfThreeLooks(safe), "");
  EXPECT_EQ(safe.replaces, 0);
  RememberingAccess unreadable(L"D:(A;OICI;GA;;;AU)");
  unreadable.readError = ERROR_ACCESS_DENIED;
  log = LogOfThreeLooks(unreadable);
  EXPECT_EQ(unreadable.replaces, 0);
  EXPECT_EQ(CountLines(log), 1u) << log;
}

// The engine's folder is taken as it is only when the Administrators (or this account)
// own it and nobody else may change it; its access list is read through the seam, the
// folder itself is a real one.
TEST(CacheSecurity, EngineFolderCheckTakesOnlyAFolderNobodyElseMayChange) {
  test_support::TempDir folder;
  const struct {
    const wchar_t* sddl;
    bool taken;
  } rows[] = {
      {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
      {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true},  // Users read
      {L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},      // foreign owner
      {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", false},  // Users write
      {L"O:BA", false},                                                            // no list
  };
  for (const auto& row : rows) {
    RememberingAccess access(row.sddl);
    EXPECT_EQ(CacheSecurity::OnlyAdministratorsMayChange(folder.path(), access), row.taken)
        << Narrow(row.sddl);
  }
  RememberingAccess unreadable(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  unreadable.readError = ERROR_ACCESS_DENIED;
  EXPECT_FALSE(CacheSecurity::OnlyAdministratorsMayChange(folder.path(), unreadable));
  RememberingAccess clean(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  const std::wstring file = folder.File(L"not-a-folder");
  ASSERT_TRUE(test_support::WriteBytes(file, "x"));
  EXPECT_FALSE(CacheSecurity::OnlyAdministratorsMayChange(file, clean));
}

// The repair gives its list to what the folder holds, never through a link in it: it
// once reset the security of whatever a link inside the cache folder points to.
TEST(CacheSecurity, RepairLeavesLinksInsideTheFolderAndWhatTheyPointTo) {
  test_support::TempDir dir;
  static int runs = 0;  // a process repairs a folder once
  const std::wstring cache = dir.File(L"cache" + std::to_wstring(++runs));
  const std::wstring targets[] = {dir.File(L"folder"), dir.File(L"folder\\kept.txt"),
                                  dir.File(L"kept.txt")};
  ASSERT_TRUE(CreateDirectoryW(cache.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(targets[0].c_str(), nullptr));
  ASSERT_TRUE(test_support::WriteBytes(targets[1], "kept"));
  ASSERT_TRUE(test_support::WriteBytes(targets[2], "kept"));
  ASSERT_TRUE(test_support::WriteBytes(cache + L"\\own.txt", "own"));
  ASSERT_TRUE(MakeLink(cache + L"\\folder link", targets[0], true));
  ASSERT_TRUE(MakeLink(cache + L"\\file link", targets[2], false));
  // Everyone may write everything: the folder and its own file are repaired.
  std::wstring before[3];
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(LetEveryoneWrite(targets[i]));
    before[i] = ListAt(targets[i]);
  }
  ASSERT_TRUE(LetEveryoneWrite(cache));
  ASSERT_TRUE(LetEveryoneWrite(cache + L"\\own.txt"));
  ASSERT_TRUE(SddlLetsOthersWrite(ListAt(cache + L"\\own.txt")));

  test_support::StdoutCapture out;
  ProtectExistingFolder(cache, nullptr);
  const std::string log = out.Text();
  EXPECT_NE(log.find("now only SYSTEM, Administrators and its user may"), std::string::npos)
      << log;
  EXPECT_FALSE(SddlLetsOthersWrite(ListAt(cache + L"\\own.txt")));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ListAt(targets[i]), before[i]) << Narrow(targets[i]);
  EXPECT_EQ(test_support::ReadBytes(targets[1]), "kept");
  EXPECT_EQ(test_support::ReadBytes(targets[2]), "kept");
  // The links are still there, and go first: removing the folder would enter them.
  for (const std::wstring& link : {cache + L"\\folder link", cache + L"\\file link"}) {
    EXPECT_TRUE(test_support::PathExists(link) && RemoveLink(link)) << Narrow(link);
  }
}

}  // namespace
