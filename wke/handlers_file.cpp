// File commands: "fileExists", "replaceFile", "moveFile", "removeFile", "getFullPath"
// and "getFileMd5". The work is in FileCommands and FileHelper.
#include "app/ansi_text.h"
#include "sys/file_commands.h"
#include "sys/file_helper.h"
#include "wke/bridge.h"

jsValue WkeFunction::OnFileExists(jsExecState es, void*) {
  const AnsiText path(ArgUtf8(es, 0));
  LOG_INFO("execute c++ function file path: %s", path.c_str());
  const bool exists = FileCommands::Exists(path.c_str());
  ECHO_BOOL(exists, LOG_WARNING);
  return jsBoolean(exists);
}

jsValue WkeFunction::OnReplaceFile(jsExecState es, void*) {
  const std::wstring oldPath = ArgWide(es, 0);
  const std::wstring newPath = ArgWide(es, 1);
  LOG_INFO("execute c++ function old file path: %s, new file path: %s",
           AnsiText(oldPath).c_str(), AnsiText(newPath).c_str());
  const bool replaced = FileCommands::Replace(oldPath, newPath);
  ECHO_BOOL(replaced, LOG_WARNING);
  return jsBoolean(replaced);
}

jsValue WkeFunction::OnMoveFile(jsExecState es, void*) {
  const std::wstring oldPath = ArgWide(es, 0);
  const std::wstring newPath = ArgWide(es, 1);
  LOG_INFO("execute c++ function old file path: %s, new file path: %s",
           AnsiText(oldPath).c_str(), AnsiText(newPath).c_str());
  const bool moved = FileCommands::Move(oldPath, newPath);
  ECHO_BOOL(moved, LOG_ERROR);
  return jsBoolean(moved);
}

jsValue WkeFunction::onRemoveFile(jsExecState es, void*) {
  const std::wstring path = ArgWide(es, 0);
  LOG_INFO("execute c++ function file path: %s", AnsiText(path).c_str());
  const bool removed = FileCommands::Remove(path);
  ECHO_BOOL(removed, LOG_WARNING);
  return jsBoolean(removed);
}

jsValue WkeFunction::OnGetFullPath(jsExecState es, void*) {
  const std::wstring text = ArgWide(es, 0);
  LOG_INFO("execute c++ function env path: %s", AnsiText(text).c_str());
  const std::wstring expanded = FileCommands::ExpandPath(text);
  ECHO_STRING(LOG_INFO, AnsiText(expanded).c_str());
  return jsStringW(es, expanded.c_str());
}

jsValue WkeFunction::OnGetFileMd5(jsExecState es, void*) {
  const AnsiText path(ArgUtf8(es, 0));
  LOG_INFO("execute c++ function file path: %s", path.c_str());
  const std::string digest = FileHelper::GetFileMd5(path.c_str());
  ECHO_STRING(LOG_INFO, digest.c_str());
  return jsString(es, digest.c_str());
}
