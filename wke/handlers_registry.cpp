// Registry probes: "hasRegisterPath" tests for a key, "hasRegisterKey" for a value,
// in the view the page selects (64: the 64-bit view, anything else the 32-bit one).
#include "app/ansi_text.h"
#include "store/registry_helper.h"
#include "wke/bridge.h"

namespace {

// The helpers take the low 8 bits of the page's selector.
uint8_t ViewOf(int selector) { return static_cast<uint8_t>(selector & 0xFF); }

}  // namespace

jsValue WkeFunction::OnHasRegisterPath(jsExecState es, void*) {
  const std::wstring path = ArgWide(es, 0);
  const int selector = ArgInt(es, 1);
  LOG_INFO("execute c++ function register path: %s, bit: %d ", AnsiText(path).c_str(),
           selector);
  RegistryLocation location;
  if (!RegistryHelper::ParsePath(path, location)) {
    ECHO_FALSE(LOG_ERROR);
    return jsBoolean(false);
  }
  const bool exists = RegistryHelper::KeyExists(location.root, location.subKey, ViewOf(selector));
  ECHO_BOOL(exists, LOG_WARNING);
  return jsBoolean(exists);
}

jsValue WkeFunction::OnHasRegisterKey(jsExecState es, void*) {
  const std::wstring path = ArgWide(es, 0);
  const std::wstring valueName = ArgWide(es, 1);
  const int selector = ArgInt(es, 2);
  LOG_INFO("execute c++ function register path: %s, key: %s, bit: %d ", AnsiText(path).c_str(),
           AnsiText(valueName).c_str(), selector);
  RegistryLocation location;
  if (!RegistryHelper::ParsePath(path, location)) {
    ECHO_FALSE(LOG_ERROR);
    return jsBoolean(false);
  }
  const bool exists = RegistryHelper::ValueExists(location.root, location.subKey, valueName,
                                                  ViewOf(selector));
  ECHO_BOOL(exists, LOG_WARNING);
  return jsBoolean(exists);
}
