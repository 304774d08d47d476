// The page's two key/value stores: "setData"/"getData" in memory only, and
// "setCacheData"/"getCacheData" persisted in config.data.
#include "store/cache_config_data.h"
#include "wke/bridge.h"

jsValue WkeFunction::OnSetData(jsExecState es, void* param) {
  const std::string key = ArgUtf8(es, 0);
  std::string value = ArgUtf8(es, 1);
  LOG_INFO("execute c++ function key: %s, value: %s", key.c_str(), value.c_str());
  // Swapped in rather than assigned: assignment keeps the old buffer when the new value
  // fits it, so a key that once held megabytes would hold them until the program ends.
  // The old value leaves with `value`.
  Bridge(param)->dataMap[key].swap(value);
  ECHO_TRUE(LOG_INFO);
  return jsBoolean(true);
}

jsValue WkeFunction::OnGetData(jsExecState es, void* param) {
  const std::string key = ArgUtf8(es, 0);
  LOG_INFO("execute c++ function key: %s", key.c_str());
  const auto& dataMap = Bridge(param)->dataMap;
  const auto found = dataMap.find(key);
  if (found == dataMap.end()) {
    ECHO_UNDEFINED(LOG_WARNING);
    return jsUndefined();
  }
  ECHO_STRING(LOG_INFO, found->second.c_str());
  return jsString(es, found->second.c_str());
}

jsValue WkeFunction::OnSetCacheData(jsExecState es, void* param) {
  const std::string key = ArgUtf8(es, 0);
  const std::string value = ArgUtf8(es, 1);
  LOG_INFO("execute c++ function key: %s, value: %s", key.c_str(), value.c_str());
  // A change that did not reach the disk stays in memory, and the page is told so.
  const bool saved = Bridge(param)->cacheData->SetData(key, value);
  ECHO_BOOL(saved, LOG_ERROR);
  return jsBoolean(saved);
}

jsValue WkeFunction::OnGetCacheData(jsExecState es, void* param) {
  const std::string key = ArgUtf8(es, 0);
  LOG_INFO("execute c++ function key: %s", key.c_str());
  const std::string value = Bridge(param)->cacheData->GetData(key);
  ECHO_STRING(LOG_INFO, value.c_str());
  return jsString(es, value.c_str());
}
