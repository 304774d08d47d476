// The page's questions about the machine and the program: bitness, OS generation,
// device number, cid, and the program's own path and file version.
#include "app/helper.h"
#include "sys/file_helper.h"
#include "sys/machine_identity.h"
#include "wke/bridge.h"

jsValue WkeFunction::OnGetSystemBit(jsExecState es, void* param) {
  LOG_INFO("execute c++ function");
  const int bits = Helper::GetSystemBits();
  ECHO_INT(LOG_INFO, bits);
  return jsInt(bits);
}

jsValue WkeFunction::OnGetDeviceNumber(jsExecState es, void* param) {
  LOG_INFO("execute c++ function");
  const std::string number = MachineIdentity::GetDeviceNumber();
  ECHO_STRING(LOG_INFO, number.c_str());
  return jsString(es, number.c_str());
}

jsValue WkeFunction::OnGetSysVersion(jsExecState es, void* param) {
  LOG_INFO("execute c++ function");
  const std::string name = Helper::GetOsName();
  ECHO_STRING(LOG_INFO, name.c_str());
  return jsString(es, name.c_str());
}

jsValue WkeFunction::OnGetModuleFilePath(jsExecState es, void* param) {
  LOG_INFO("execute c++ function");
  const std::wstring path = Helper::GetModuleFilePath(nullptr);
  ECHO_WIDE_STRING(path.c_str());
  return jsStringW(es, path.c_str());
}

jsValue WkeFunction::OnGetModuleFileVersion(jsExecState es, void* param) {
  LOG_INFO("execute c++ function");
  const std::wstring version = FileHelper::GetVersion(Helper::GetModuleFilePath(nullptr).c_str());
  ECHO_WIDE_STRING(version.c_str());
  return jsStringW(es, version.c_str());
}

jsValue WkeFunction::OnGetCid(jsExecState es, void* param) {
  LOG_INFO("execute c++ function");
  const std::string cid = Helper::GetUninstallValue("cid");
  ECHO_STRING(LOG_INFO, cid.c_str());
  return jsString(es, cid.c_str());
}
