// Identifiers of this machine: a network adapter's hardware address and the device
// number derived from it and from two values Windows keeps in the registry.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace MachineIdentity {

// Bytes the NDIS address queries may write.
constexpr size_t kNdisReplySize = 256;

// One opened adapter device, answering NDIS object queries.
class AdapterDevice {
 public:
  virtual ~AdapterDevice() = default;
  // Asks for object oid; true when the device answered into reply.
  virtual bool Query(uint32_t oid, uint8_t (&reply)[kNdisReplySize]) = 0;
};

// Where the adapter walk gets its adapters and devices. The system's source uses the
// adapter list and the adapters' NDIS devices; tests stand in for the drivers.
class AdapterSource {
 public:
  virtual ~AdapterSource() = default;
  // Adapter names (GUIDs in braces) in the system's order; false when no list.
  virtual bool ListAdapters(std::vector<std::string>& names) = 0;
  // Opens a device path such as \\.\{GUID}; null when it does not open.
  virtual std::unique_ptr<AdapterDevice> Open(const std::string& devicePath) = 0;
};

AdapterSource& SystemAdapters();

// Mac text of the first adapter whose device answers: its permanent address as 12
// upper-case hex digits, or "1:" and its current address when only that answers.
// Leaves out empty when no adapter answers.
void GetMacAddress(std::string& out);
void GetMacAddress(std::string& out, AdapterSource& adapters);

// MD5 (32 lower-case hex digits) of mac text, MachineGuid and SQMClient MachineId,
// joined without separators; the two values come from the 64-bit registry view.
std::string GetDeviceNumber();
std::string GetDeviceNumber(AdapterSource& adapters);

// Text of a registry value read into a zero-filled buffer of bufferSize bytes: up to
// the first zero byte, or the whole buffer when the value fills it without one.
// Empty when the key does not open; when the query fails, empty if emptyOnFailure,
// else whatever the buffer holds.
std::string ReadRegistryText(HKEY root, const char* subKey, const char* valueName,
                             REGSAM access, size_t bufferSize, bool emptyOnFailure);

}  // namespace MachineIdentity
