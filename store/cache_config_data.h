// The page's persistent key/value store: one JSON object kept in config.data in the
// cache directory, read lazily and rewritten whole after every store.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

class CacheConfigData {
 public:
  // Replaces content with the parsed file when it holds a usable JSON object.
  void Load();
  // The string stored under key, or empty (an absent key gains a null member).
  std::string GetData(const std::string& key);
  // Stores value under key and saves the whole object; true when the file was saved.
  bool SetData(const std::string& key, const std::string& value);
  // <cache directory>\config.data
  static std::string GetFilePath();

  nlohmann::json content;
};
