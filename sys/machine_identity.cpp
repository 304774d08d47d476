#include "sys/machine_identity.h"

#include <iphlpapi.h>

#include <cstdio>
#include <cstring>

#include "app/unique_handle.h"
#include "sys/md5.h"

namespace MachineIdentity {
namespace {

constexpr DWORD kIoctlNdisQueryGlobalStats = 0x170002;
constexpr uint32_t kOidPermanentAddress = 0x01010101;
constexpr uint32_t kOidCurrentAddress = 0x01010102;
// The two registry values hold short identifiers; a longer value reads as empty.
constexpr size_t kMachineValueBufferSize = 260;

class NdisDevice : public AdapterDevice {
 public:
  explicit NdisDevice(HANDLE handle) : handle_(handle) {}

  bool Query(uint32_t oid, uint8_t (&reply)[kNdisReplySize]) override {
    DWORD returned = 0;
    return DeviceIoControl(handle_.get(), kIoctlNdisQueryGlobalStats, &oid, sizeof(oid),
                           reply, sizeof(reply), &returned, nullptr) != FALSE;
  }

 private:
  UniqueHandle handle_;
};

class SystemAdapterSource : public AdapterSource {
 public:
  bool ListAdapters(std::vector<std::string>& names) override {
    ULONG size = 0;
    if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) return false;
    // IP_ADAPTER_INFO needs its natural alignment; a byte vector would not promise it.
    std::vector<uint64_t> storage((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(storage.data());
    if (GetAdaptersInfo(list, &size) != ERROR_SUCCESS) return false;
    for (const IP_ADAPTER_INFO* adapter = list; adapter; adapter = adapter->Next) {
      names.emplace_back(adapter->AdapterName,
                         strnlen(adapter->AdapterName, sizeof(adapter->AdapterName)));
    }
    return true;
  }

  std::unique_ptr<AdapterDevice> Open(const std::string& devicePath) override {
    HANDLE handle = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<NdisDevice>(handle);
  }
};

std::string FormatAddress(const char* prefix, const uint8_t* bytes) {
  char text[32];
  snprintf(text, sizeof(text), "%s%02X%02X%02X%02X%02X%02X", prefix, bytes[0], bytes[1],
           bytes[2], bytes[3], bytes[4], bytes[5]);
  return text;
}

std::string ReadMachineValue(const char* subKey, const char* valueName) {
  return ReadRegistryText(HKEY_LOCAL_MACHINE, subKey, valueName,
                          KEY_QUERY_VALUE | KEY_WOW64_64KEY, kMachineValueBufferSize, true);
}

}  // namespace

AdapterSource& SystemAdapters() {
  static SystemAdapterSource source;
  return source;
}

void GetMacAddress(std::string& out) { GetMacAddress(out, SystemAdapters()); }

void GetMacAddress(std::string& out, AdapterSource& adapters) {
  std::vector<std::string> names;
  if (!adapters.ListAdapters(names)) return;
  for (const std::string& name : names) {
    std::unique_ptr<AdapterDevice> device = adapters.Open("\\\\.\\" + name);
    if (!device) continue;
    uint8_t reply[kNdisReplySize] = {};
    bool answered = false;
    if (device->Query(kOidPermanentAddress, reply)) {
      out = FormatAddress("", reply);
      answered = true;
    }
    // Asked even after the permanent address: a device that answers only this still
    // counts as the deciding adapter.
    if (device->Query(kOidCurrentAddress, reply)) {
      answered = true;
      if (out.empty()) out = FormatAddress("1:", reply);
    }
    if (answered) return;
  }
}

std::string GetDeviceNumber() { return GetDeviceNumber(SystemAdapters()); }

std::string GetDeviceNumber(AdapterSource& adapters) {
  std::string joined;
  GetMacAddress(joined, adapters);
  joined += ReadMachineValue("SOFTWARE\\Microsoft\\Cryptography", "MachineGuid");
  joined += ReadMachineValue("SOFTWARE\\Microsoft\\SQMClient", "MachineId");
  return GetStringMd5(joined);
}

std::string ReadRegistryText(HKEY root, const char* subKey, const char* valueName,
                             REGSAM access, size_t bufferSize, bool emptyOnFailure) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, subKey, 0, access, &opened) != ERROR_SUCCESS) return std::string();
  UniqueKey key(opened);
  std::vector<char> buffer(bufferSize, 0);
  DWORD size = static_cast<DWORD>(bufferSize);
  const LONG result = RegQueryValueExA(key.get(), valueName, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(buffer.data()), &size);
  if (result != ERROR_SUCCESS && emptyOnFailure) return std::string();
  // A value that fills the buffer has no terminator in it: stop at the buffer's end.
  return std::string(buffer.data(), strnlen(buffer.data(), bufferSize));
}

}  // namespace MachineIdentity
