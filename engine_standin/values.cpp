#include "engine_standin/values.h"

#include <cmath>
#include <cstdlib>
#include <deque>

#include "engine_standin/text.h"

namespace standin {

namespace {

enum Tag : uint32_t { kUndefined = 1, kNull = 2, kBool = 3, kInt = 4, kSlot = 5 };

struct Slot {
  uint32_t generation;
  bool isNumber;
  int type;  // what TypeOf answers
  double number;
  std::wstring wide;
  std::string utf8;
};

// A deque: text handed out stays put while more slots are added.
std::deque<Slot> g_slots;
uint32_t g_generation = 0;
duk_context* g_conversions = nullptr;  // a bare heap for number <-> text

// Duktape's own handler would end the process without a word.
void ConversionsFatal(void*, const char* message) {
  Say("fatal error in the number conversions: %s", message ? message : "(none)");
  abort();
}

duk_context* Conversions() {
  if (!g_conversions) {
    g_conversions = duk_create_heap(nullptr, nullptr, nullptr, nullptr, ConversionsFatal);
  }
  return g_conversions;
}

jsValue Encode(Tag tag, uint32_t payload, uint32_t generation = 0) {
  const uint32_t high = (generation << 8) | tag;
  return static_cast<jsValue>((static_cast<uint64_t>(high) << 32) | payload);
}

Tag TagOf(jsValue value) { return static_cast<Tag>((static_cast<uint64_t>(value) >> 32) & 0xFF); }
uint32_t PayloadOf(jsValue value) { return static_cast<uint32_t>(value); }

const Slot* FindSlot(jsValue value) {
  if (TagOf(value) != kSlot) return nullptr;
  const uint32_t index = PayloadOf(value);
  const uint32_t generation = static_cast<uint32_t>(static_cast<uint64_t>(value) >> 40);
  if (index >= g_slots.size() || (g_slots[index].generation & 0xFFFFFF) != generation) {
    Say("stale or unknown script value %08lx%08lx used as undefined",
        static_cast<unsigned long>(static_cast<uint64_t>(value) >> 32),
        static_cast<unsigned long>(PayloadOf(value)));
    return nullptr;
  }
  return &g_slots[index];
}

jsValue AddSlot(bool isNumber, double number, std::wstring wide, int type = kTypeString) {
  Slot slot{++g_generation, isNumber, isNumber ? kTypeNumber : type, number, std::move(wide),
            std::string()};
  slot.utf8 = WideToUtf8(slot.wide);
  g_slots.push_back(std::move(slot));
  return Encode(kSlot, static_cast<uint32_t>(g_slots.size() - 1), g_slots.back().generation & 0xFFFFFF);
}

// The conversions run in safe calls: this heap runs no script that could catch an
// error, so one thrown outside them would be fatal.
struct Conversion {
  double number;
  const std::string* cesu;
};

duk_ret_t NumberTextUnsafe(duk_context* ctx, void* data) {
  duk_push_number(ctx, static_cast<Conversion*>(data)->number);
  duk_to_string(ctx, -1);
  return 1;
}

duk_ret_t TextNumberUnsafe(duk_context* ctx, void* data) {
  auto* conversion = static_cast<Conversion*>(data);
  duk_push_lstring(ctx, conversion->cesu->data(), conversion->cesu->size());
  conversion->number = duk_to_number(ctx, -1);
  return 0;
}

std::wstring NumberText(double number) {
  duk_context* ctx = Conversions();
  Conversion conversion{number, nullptr};
  std::wstring wide;
  if (duk_safe_call(ctx, NumberTextUnsafe, &conversion, 0, 1) == DUK_EXEC_SUCCESS) {
    duk_size_t length = 0;
    const char* text = duk_get_lstring(ctx, -1, &length);
    wide = CesuToWide(text ? text : "", length);
  } else {
    Say("number %g not turned into text: %s", number, duk_safe_to_string(ctx, -1));
  }
  duk_pop(ctx);
  return wide;
}

double TextNumber(const std::wstring& text) {
  duk_context* ctx = Conversions();
  const std::string cesu = WideToCesu(text);
  Conversion conversion{NAN, &cesu};
  if (duk_safe_call(ctx, TextNumberUnsafe, &conversion, 0, 1) != DUK_EXEC_SUCCESS) {
    Say("text of %u units not turned into a number: %s", static_cast<unsigned>(text.size()),
        duk_safe_to_string(ctx, -1));
  }
  duk_pop(ctx);
  return conversion.number;
}

duk_ret_t ToNumberUnsafe(duk_context* ctx, void*) {
  duk_to_number(ctx, -1);
  return 1;
}

bool FitsInt(double number) {
  return number >= -2147483648.0 && number <= 2147483647.0 && number == std::floor(number) &&
         !(number == 0 && std::signbit(number));
}

int DoubleToInt32(double number) {
  if (!std::isfinite(number)) return 0;
  double truncated = std::trunc(number);
  double wrapped = std::fmod(truncated, 4294967296.0);
  if (wrapped < 0) wrapped += 4294967296.0;
  const uint32_t bits = static_cast<uint32_t>(wrapped);
  return static_cast<int>(bits);
}

// A slot for any handle, so that every text pointer handed out lives in a slot.
const Slot* SlotFor(jsValue value) {
  if (const Slot* slot = FindSlot(value)) return slot;
  switch (TagOf(value)) {
    case kNull: AddSlot(false, 0, L"null"); break;
    case kBool: AddSlot(false, PayloadOf(value) ? 1 : 0, PayloadOf(value) ? L"true" : L"false"); break;
    case kInt: {
      const int number = static_cast<int>(PayloadOf(value));
      AddSlot(true, number, std::to_wstring(number));
      break;
    }
    default: AddSlot(false, NAN, L"undefined"); break;
  }
  return &g_slots.back();
}

}  // namespace

jsValue MakeUndefined() { return Encode(kUndefined, 0); }
jsValue MakeNull() { return Encode(kNull, 0); }
jsValue MakeBool(bool value) { return Encode(kBool, value ? 1 : 0); }
jsValue MakeInt(int value) { return Encode(kInt, static_cast<uint32_t>(value)); }

jsValue MakeNumber(double value) {
  if (FitsInt(value)) return MakeInt(static_cast<int>(value));
  return AddSlot(true, value, NumberText(value));
}

jsValue MakeString(const std::wstring& text) { return AddSlot(false, TextNumber(text), text); }

jsValue Capture(duk_context* ctx, duk_idx_t index) {
  switch (duk_get_type(ctx, index)) {
    case DUK_TYPE_NONE:
    case DUK_TYPE_UNDEFINED: return MakeUndefined();
    case DUK_TYPE_NULL: return MakeNull();
    case DUK_TYPE_BOOLEAN: return MakeBool(duk_get_boolean(ctx, index) != 0);
    case DUK_TYPE_NUMBER: return MakeNumber(duk_get_number(ctx, index));
    case DUK_TYPE_STRING: {
      duk_size_t length = 0;
      const char* text = duk_get_lstring(ctx, index, &length);
      return MakeString(CesuToWide(text, length));
    }
    default: break;
  }
  // Objects: their text and number, each as the script would see them; a throwing
  // toString/valueOf gives the error's text and NaN.
  index = duk_normalize_index(ctx, index);
  const int type = duk_is_function(ctx, index) ? kTypeFunction
                   : duk_is_array(ctx, index)  ? kTypeArray
                                               : kTypeObject;
  std::wstring wide = ScriptText(ctx, index);
  duk_dup(ctx, index);
  double number = NAN;
  if (duk_safe_call(ctx, ToNumberUnsafe, nullptr, 1, 1) == DUK_EXEC_SUCCESS) {
    number = duk_get_number(ctx, -1);
  }
  duk_pop(ctx);
  return AddSlot(false, number, std::move(wide), type);
}

std::wstring ScriptText(duk_context* ctx, duk_idx_t index) {
  duk_dup(ctx, index);
  duk_size_t length = 0;
  const char* text = duk_safe_to_lstring(ctx, -1, &length);
  std::wstring wide = CesuToWide(text, length);
  duk_pop(ctx);
  return wide;
}

void Push(duk_context* ctx, jsValue value) {
  switch (TagOf(value)) {
    case kNull: duk_push_null(ctx); return;
    case kBool: duk_push_boolean(ctx, PayloadOf(value) != 0); return;
    case kInt: duk_push_int(ctx, static_cast<int>(PayloadOf(value))); return;
    case kSlot:
      if (const Slot* slot = FindSlot(value)) {
        if (slot->isNumber) {
          duk_push_number(ctx, slot->number);
        } else {
          const std::string cesu = WideToCesu(slot->wide);
          duk_push_lstring(ctx, cesu.data(), cesu.size());
        }
        return;
      }
      break;
    default: break;
  }
  duk_push_undefined(ctx);
}

const char* ToUtf8(jsValue value) { return SlotFor(value)->utf8.c_str(); }
const wchar_t* ToWide(jsValue value) { return SlotFor(value)->wide.c_str(); }

int ToInt32(jsValue value) {
  switch (TagOf(value)) {
    case kBool:
    case kInt: return static_cast<int>(PayloadOf(value));
    case kSlot:
      if (const Slot* slot = FindSlot(value)) return DoubleToInt32(slot->number);
      return 0;
    default: return 0;
  }
}

int TypeOf(jsValue value) {
  switch (TagOf(value)) {
    case kNull: return kTypeNull;
    case kBool: return kTypeBoolean;
    case kInt: return kTypeNumber;
    case kSlot:
      if (const Slot* slot = FindSlot(value)) return slot->type;
      return kTypeUndefined;
    default: return kTypeUndefined;
  }
}

void ResetSlots() { g_slots.clear(); }

void ShutdownValues() {
  g_slots.clear();
  if (g_conversions) duk_destroy_heap(g_conversions);
  g_conversions = nullptr;
}

SlotMark::SlotMark() : mark_(g_slots.size()) {}
SlotMark::~SlotMark() {
  if (g_slots.size() > mark_) g_slots.resize(mark_);
}

}  // namespace standin
