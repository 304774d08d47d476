// Script values as the engine API hands them out: opaque 64-bit handles. Small
// values (undefined, null, booleans, 32-bit integers) are encoded in the handle
// itself; strings and other numbers live in a slot table. Objects cross as their
// text and number (String(v), Number(v)), taken when they are captured.
//
// Slots made while a bound function runs are dropped when it returns, so text handed
// out by ToUtf8/ToWide stays valid exactly that long. Slots made outside any script
// run (a host's wkeRunJS result) live until the next top-level script run.
#pragma once

#include <string>

#include "duktape.h"
#include "engine_standin/standin.h"

namespace standin {

jsValue MakeUndefined();
jsValue MakeNull();
jsValue MakeBool(bool value);
jsValue MakeInt(int value);
jsValue MakeNumber(double value);
jsValue MakeString(const std::wstring& text);

// Takes the value at `index` of a Duktape stack as a handle.
jsValue Capture(duk_context* ctx, duk_idx_t index);
// String(v) of a stack value, leaving the stack as it was; a throwing toString gives
// the error's text.
std::wstring ScriptText(duk_context* ctx, duk_idx_t index);
// Pushes the value of a handle; a stale or unknown handle pushes undefined.
void Push(duk_context* ctx, jsValue value);

// The engine's names for the kinds of values (jsTypeOf).
enum : int {
  kTypeNumber = 0,
  kTypeString = 1,
  kTypeBoolean = 2,
  kTypeObject = 3,
  kTypeFunction = 4,
  kTypeUndefined = 5,
  kTypeArray = 6,
  kTypeNull = 7,
};
int TypeOf(jsValue value);

// String(v) and ToInt32(v).
const char* ToUtf8(jsValue value);
const wchar_t* ToWide(jsValue value);
int ToInt32(jsValue value);

// Drops every slot (at the start of a top-level script run).
void ResetSlots();
// Frees the conversion heap at engine shutdown.
void ShutdownValues();

// Drops the slots made during its lifetime when it ends.
class SlotMark {
 public:
  SlotMark();
  ~SlotMark();
  SlotMark(const SlotMark&) = delete;
  SlotMark& operator=(const SlotMark&) = delete;

 private:
  size_t mark_;
};

}  // namespace standin
