#pragma once

#include <cstdint>

// Rational media time, with the semantics of CoreMedia's CMTime: a value over a
// timescale, flags that mark invalid, infinite and indefinite times, and an
// epoch. Times are only combined through CMTimeAdd and CMTimeSubtract.

using CMTimeValue = std::int64_t;
using CMTimeScale = std::int32_t;
using CMTimeEpoch = std::int64_t;

enum CMTimeFlags : std::uint32_t {
  kCMTimeFlags_Valid = 1U << 0,
  kCMTimeFlags_HasBeenRounded = 1U << 1,
  kCMTimeFlags_PositiveInfinity = 1U << 2,
  kCMTimeFlags_NegativeInfinity = 1U << 3,
  kCMTimeFlags_Indefinite = 1U << 4,
};

inline constexpr CMTimeScale kCMTimeMaxTimescale = 1000000000;

struct CMTime {
  CMTimeValue value = 0;
  CMTimeScale timescale = 0;
  std::uint32_t flags = 0;
  CMTimeEpoch epoch = 0;

  bool isValid() const { return (flags & kCMTimeFlags_Valid) != 0; }
  bool isPositiveInfinity() const {
    return isValid() && (flags & kCMTimeFlags_PositiveInfinity) != 0;
  }
  bool isNegativeInfinity() const {
    return isValid() && (flags & kCMTimeFlags_NegativeInfinity) != 0;
  }
  bool isIndefinite() const { return isValid() && (flags & kCMTimeFlags_Indefinite) != 0; }
  bool isNumeric() const {
    return isValid() && (flags & (kCMTimeFlags_PositiveInfinity | kCMTimeFlags_NegativeInfinity |
                                  kCMTimeFlags_Indefinite)) == 0;
  }

  // Field-by-field identity, as tests want it; use CMTimeCompare for order.
  friend bool operator==(const CMTime&, const CMTime&) = default;
};

inline constexpr CMTime kCMTimeZero{0, 1, kCMTimeFlags_Valid, 0};
inline constexpr CMTime kCMTimeInvalid{0, 0, 0, 0};
inline constexpr CMTime kCMTimePositiveInfinity{
    0, 0, kCMTimeFlags_Valid | kCMTimeFlags_PositiveInfinity, 0};
inline constexpr CMTime kCMTimeNegativeInfinity{
    0, 0, kCMTimeFlags_Valid | kCMTimeFlags_NegativeInfinity, 0};
inline constexpr CMTime kCMTimeIndefinite{0, 0, kCMTimeFlags_Valid | kCMTimeFlags_Indefinite, 0};

// A numeric time; a timescale that is not positive gives an invalid time.
CMTime CMTimeMake(CMTimeValue value, CMTimeScale timescale);

// Sum and difference at a common timescale (the least common multiple of both,
// capped at kCMTimeMaxTimescale with rounding half away from zero). Invalid
// operands, different epochs and +inf combined with -inf give an invalid time;
// otherwise an indefinite operand gives an indefinite time and an infinite one
// an infinite time. A result outside the value range becomes infinite.
CMTime CMTimeAdd(CMTime lhs, CMTime rhs);
CMTime CMTimeSubtract(CMTime lhs, CMTime rhs);

// The time at another timescale, rounded half away from zero.
CMTime CMTimeConvertScale(CMTime time, CMTimeScale timescale);

// -1, 0 or 1. Invalid times sort before everything, then -inf, numbers,
// +inf and indefinite.
int CMTimeCompare(CMTime lhs, CMTime rhs);

double CMTimeGetSeconds(CMTime time);

// The host clock every capture source stamps its samples with: CLOCK_MONOTONIC,
// in nanoseconds.
CMTime hostTimeNow();
inline constexpr CMTimeScale hostTimeScale = kCMTimeMaxTimescale;
