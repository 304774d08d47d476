#include "store/cache_config_data.h"

// PLACEHOLDER: replaced by the real store.
void CacheConfigData::Load() {}
std::string CacheConfigData::GetData(const std::string&) { return {}; }
bool CacheConfigData::SetData(const std::string&, const std::string&) { return false; }
std::string CacheConfigData::GetFilePath() { return {}; }
