#include <windows.h>

#include "engine_standin/standin.h"

namespace standin {

HINSTANCE EngineModule() {
  static HMODULE module = [] {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&EngineModule), &self);
    return self;
  }();
  return module;
}

}  // namespace standin
