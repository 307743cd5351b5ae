// The floating-point environment the library computes in, whatever the host
// has set.
//
// Every rounded value (DAC codes, clock dividers, trigger codes) and every
// extended-precision result must not depend on the host's rounding mode or,
// on x86, on the x87 unit's precision control (53 bits is the default of many
// Windows compilers; the i686 build does all its arithmetic on the x87 unit,
// the x86-64 build its long double arithmetic). A FloatEnvironment sets round
// to nearest, 64-bit x87 precision and, where SSE is used, the default MXCSR
// controls for its lifetime and puts the host's settings back afterwards. The
// exports and the poll timer's tick hold one around all their arithmetic.
#pragma once

#include <cfenv>
#include <cstdint>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__i386__) || defined(__x86_64__))
#define RU3_X87_CONTROL 1
#if defined(__SSE__)
#include <xmmintrin.h>
#define RU3_SSE_CONTROL 1
#endif
#endif

namespace ru3 {

class FloatEnvironment {
 public:
  FloatEnvironment() noexcept {
#if defined(RU3_X87_CONTROL)
    __asm__ volatile("fnstcw %0" : "=m"(x87_));
    if (x87_ != kX87Default) {
      const std::uint16_t wanted = kX87Default;
      __asm__ volatile("fldcw %0" : : "m"(wanted));
    }
#if defined(RU3_SSE_CONTROL)
    mxcsr_ = _mm_getcsr();
    if ((mxcsr_ & kMxcsrControls) != kMxcsrDefault) _mm_setcsr((mxcsr_ & ~kMxcsrControls) | kMxcsrDefault);
#endif
#else
    rounding_ = std::fegetround();
    if (rounding_ != FE_TONEAREST) std::fesetround(FE_TONEAREST);
#endif
  }

  ~FloatEnvironment() {
#if defined(RU3_X87_CONTROL)
    if (x87_ != kX87Default) __asm__ volatile("fldcw %0" : : "m"(x87_));
#if defined(RU3_SSE_CONTROL)
    if ((mxcsr_ & kMxcsrControls) != kMxcsrDefault) _mm_setcsr(mxcsr_);
#endif
#else
    if (rounding_ != FE_TONEAREST) std::fesetround(rounding_);
#endif
  }

  FloatEnvironment(const FloatEnvironment&) = delete;
  FloatEnvironment& operator=(const FloatEnvironment&) = delete;

 private:
#if defined(RU3_X87_CONTROL)
  // Every exception masked, 64-bit precision, round to nearest.
  static constexpr std::uint16_t kX87Default = 0x037F;
  std::uint16_t x87_ = kX87Default;
#if defined(RU3_SSE_CONTROL)
  // Bits 6-15: denormals-are-zero, exception masks, rounding, flush-to-zero.
  static constexpr unsigned kMxcsrControls = 0xFFC0;
  static constexpr unsigned kMxcsrDefault = 0x1F80;
  unsigned mxcsr_ = kMxcsrDefault;
#endif
#else
  int rounding_ = FE_TONEAREST;
#endif
};

}  // namespace ru3
