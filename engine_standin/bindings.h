// The engine-wide list of native functions bound with wkeJsBindFunction. Every page
// gets them all as globals, whether it was made before or after the binding.
#pragma once

#include <string>

#include "engine_standin/standin.h"

namespace standin {

using NativeFunction = jsValue(__cdecl*)(void* execState, void* param);

struct Binding {
  std::string name;
  NativeFunction function = nullptr;
  void* param = nullptr;
  unsigned argCount = 0;
};

// Adds or replaces the binding of `name`; returns its index, or -1 when refused.
int AddBinding(const char* name, NativeFunction function, void* param, unsigned argCount);
const Binding* BindingAt(int index);
int BindingCount();
void ClearBindings();

}  // namespace standin
