#include "Platform/Time.h"

#include <ctime>
#include <limits>
#include <numeric>

namespace {

using Wide = __int128;

constexpr std::uint32_t nonNumericFlags =
    kCMTimeFlags_PositiveInfinity | kCMTimeFlags_NegativeInfinity | kCMTimeFlags_Indefinite;

// value * numerator / denominator, rounded half away from zero.
Wide scaleRounded(Wide value, Wide numerator, Wide denominator, bool& rounded) {
  const Wide product = value * numerator;
  Wide quotient = product / denominator;
  const Wide remainder = product % denominator;
  if (remainder != 0) {
    rounded = true;
    const Wide twice = (remainder < 0 ? -remainder : remainder) * 2;
    if (twice >= denominator) {
      quotient += product < 0 ? -1 : 1;
    }
  }
  return quotient;
}

CMTime fromWide(Wide value, CMTimeScale timescale, std::uint32_t roundedFlag, CMTimeEpoch epoch) {
  if (value > std::numeric_limits<CMTimeValue>::max()) {
    return kCMTimePositiveInfinity;
  }
  if (value < std::numeric_limits<CMTimeValue>::min()) {
    return kCMTimeNegativeInfinity;
  }
  return CMTime{static_cast<CMTimeValue>(value), timescale, kCMTimeFlags_Valid | roundedFlag,
                epoch};
}

// Combines two times; `sign` is +1 for addition and -1 for subtraction.
CMTime combine(CMTime lhs, CMTime rhs, int sign) {
  if (!lhs.isValid() || !rhs.isValid() || lhs.epoch != rhs.epoch) {
    return kCMTimeInvalid;
  }
  if (lhs.isIndefinite() || rhs.isIndefinite()) {
    return kCMTimeIndefinite;
  }
  const bool lhsPositive = lhs.isPositiveInfinity();
  const bool lhsNegative = lhs.isNegativeInfinity();
  // Subtracting +inf is adding -inf.
  const bool rhsPositive = sign > 0 ? rhs.isPositiveInfinity() : rhs.isNegativeInfinity();
  const bool rhsNegative = sign > 0 ? rhs.isNegativeInfinity() : rhs.isPositiveInfinity();
  if ((lhsPositive && rhsNegative) || (lhsNegative && rhsPositive)) {
    return kCMTimeInvalid;
  }
  if (lhsPositive || rhsPositive) {
    return kCMTimePositiveInfinity;
  }
  if (lhsNegative || rhsNegative) {
    return kCMTimeNegativeInfinity;
  }
  if (lhs.timescale <= 0 || rhs.timescale <= 0) {
    return kCMTimeInvalid;
  }

  bool rounded = false;
  Wide commonScale =
      std::lcm(static_cast<std::int64_t>(lhs.timescale), static_cast<std::int64_t>(rhs.timescale));
  if (commonScale > kCMTimeMaxTimescale) {
    commonScale = kCMTimeMaxTimescale;
  }
  const Wide left = scaleRounded(lhs.value, commonScale, lhs.timescale, rounded);
  const Wide right = scaleRounded(rhs.value, commonScale, rhs.timescale, rounded);
  const std::uint32_t roundedFlag = (rounded ? std::uint32_t{kCMTimeFlags_HasBeenRounded} : 0U) |
                                    ((lhs.flags | rhs.flags) & kCMTimeFlags_HasBeenRounded);
  return fromWide(left + sign * right, static_cast<CMTimeScale>(commonScale), roundedFlag,
                  lhs.epoch);
}

// Rank for ordering the kinds of time.
int kindRank(CMTime time) {
  if (!time.isValid())
    return 0;
  if (time.isNegativeInfinity())
    return 1;
  if (time.isPositiveInfinity())
    return 3;
  if (time.isIndefinite())
    return 4;
  return 2;
}

} // namespace

CMTime CMTimeMake(CMTimeValue value, CMTimeScale timescale) {
  if (timescale <= 0) {
    return kCMTimeInvalid;
  }
  return CMTime{value, timescale, kCMTimeFlags_Valid, 0};
}

CMTime CMTimeAdd(CMTime lhs, CMTime rhs) {
  return combine(lhs, rhs, 1);
}

CMTime CMTimeSubtract(CMTime lhs, CMTime rhs) {
  return combine(lhs, rhs, -1);
}

CMTime CMTimeConvertScale(CMTime time, CMTimeScale timescale) {
  if (!time.isNumeric() || timescale <= 0 || time.timescale <= 0) {
    return (time.flags & nonNumericFlags) != 0 && time.isValid() ? time : kCMTimeInvalid;
  }
  bool rounded = false;
  const Wide value = scaleRounded(time.value, timescale, time.timescale, rounded);
  return fromWide(value, timescale,
                  (rounded ? std::uint32_t{kCMTimeFlags_HasBeenRounded} : 0U) |
                      (time.flags & kCMTimeFlags_HasBeenRounded),
                  time.epoch);
}

int CMTimeCompare(CMTime lhs, CMTime rhs) {
  const int lhsRank = kindRank(lhs);
  const int rhsRank = kindRank(rhs);
  if (lhsRank != rhsRank || lhsRank != 2) {
    return (lhsRank > rhsRank) - (lhsRank < rhsRank);
  }
  if (lhs.epoch != rhs.epoch) {
    return lhs.epoch < rhs.epoch ? -1 : 1;
  }
  const Wide left = static_cast<Wide>(lhs.value) * rhs.timescale;
  const Wide right = static_cast<Wide>(rhs.value) * lhs.timescale;
  return (left > right) - (left < right);
}

double CMTimeGetSeconds(CMTime time) {
  if (!time.isValid() || time.isIndefinite()) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (time.isPositiveInfinity())
    return std::numeric_limits<double>::infinity();
  if (time.isNegativeInfinity())
    return -std::numeric_limits<double>::infinity();
  if (time.timescale <= 0)
    return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(time.value) / static_cast<double>(time.timescale);
}

CMTime hostTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return CMTimeMake(static_cast<CMTimeValue>(now.tv_sec) * hostTimeScale + now.tv_nsec,
                    hostTimeScale);
}
