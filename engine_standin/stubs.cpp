// The stubs behind every name the stand-in does not implement: the generated .def
// file points those names here.
#include <cstdint>

// Zero results for the names the program never calls: integers, pointers and script
// values in EDX:EAX, floating-point results on the x87 stack, and rectangles through
// the caller's return buffer.
struct StandinRect {
  int x, y, w, h;
};
extern "C" int64_t __cdecl StandinZero() { return 0; }
extern "C" double __cdecl StandinZeroReal() { return 0.0; }
extern "C" StandinRect __cdecl StandinZeroRect() { return StandinRect{0, 0, 0, 0}; }
