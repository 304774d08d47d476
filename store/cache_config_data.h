// The page's persistent key/value store: one JSON object kept in config.data in the
// cache directory, read lazily and rewritten whole after every store.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

class CacheConfigData {
 public:
  // The store kept in config.data in the cache directory.
  CacheConfigData();
  // The store kept in the given file (ANSI path).
  explicit CacheConfigData(std::string filePath);

  // Replaces content with the parsed file when it holds a usable JSON object.
  void Load();
  // The string stored under key, or empty (an absent key gains a null member).
  std::string GetData(const std::string& key);
  // Stores value under key and saves the whole object; true when the file was saved.
  // A failed save keeps the change in memory (GetData returns it, the next save
  // writes it) and logs the path with the system's reason.
  bool SetData(const std::string& key, const std::string& value);
  // <cache directory>\config.data; empty when there is no cache directory.
  static std::string GetFilePath();
  // The file this store is kept in; empty when there is none (then nothing is read,
  // stored or returned, with an error line).
  std::string FilePath() const;

  nlohmann::json content;

 private:
  // Loads the file while the store holds nothing.
  void LoadIfEmpty();
  // The compact text of content; members that cannot be encoded are left out.
  bool Serialise(std::string& text) const;
  // Copies an unreadable file to a free name beside it; true when done.
  bool KeepUnreadableFileAside(const std::string& path);

  std::string filePath_;
  // The file on disk could not be used; it is kept aside before a save replaces it.
  bool keepFileAside_ = false;
};
