#include "engine_standin/bindings.h"

#include <vector>

namespace standin {

namespace {
// Indexes are Duktape function magics, which are 16-bit.
constexpr size_t kMaxBindings = 30000;
std::vector<Binding> g_bindings;
}  // namespace

int AddBinding(const char* name, NativeFunction function, void* param, unsigned argCount) {
  if (!name || !*name || !function) {
    Say("wkeJsBindFunction refused: empty name or null function");
    return -1;
  }
  for (size_t i = 0; i < g_bindings.size(); ++i) {
    if (g_bindings[i].name == name) {
      g_bindings[i] = Binding{name, function, param, argCount};
      return static_cast<int>(i);
    }
  }
  if (g_bindings.size() >= kMaxBindings) {
    Say("wkeJsBindFunction refused %s: too many bindings", name);
    return -1;
  }
  g_bindings.push_back(Binding{name, function, param, argCount});
  return static_cast<int>(g_bindings.size() - 1);
}

const Binding* BindingAt(int index) {
  if (index < 0 || static_cast<size_t>(index) >= g_bindings.size()) return nullptr;
  return &g_bindings[static_cast<size_t>(index)];
}

int BindingCount() { return static_cast<int>(g_bindings.size()); }

void ClearBindings() { g_bindings.clear(); }

}  // namespace standin
