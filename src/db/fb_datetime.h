#pragma once
// Conversion between TDateTime (days since 30 December 1899, time of day as
// the fraction) and the Firebird forms (Modified Julian Day number, time of
// day in 1/10000 s). Times are rounded to the nearest 1/10000 s; a time that
// rounds up to midnight moves to the next day.
#include <cmath>
#include <cstdint>

#include "common/datetime.h"

namespace trelvex::db {

inline constexpr std::int64_t kTicksPerDay = 864000000;  // 1/10000 s in a day
inline constexpr std::int32_t kMjdOf18991230 = 15018;    // day 0 of TDateTime

struct FbDateTime {
  std::int32_t mjd = kMjdOf18991230;
  std::uint32_t ticks = 0;
};

// A negative TDateTime counts whole days backwards, but its fraction is still
// the time of day forwards (-1.25 is 29 December 1899, 06:00).
// Dates the database can hold (years 1 to 9999) lie well inside this range.
inline bool FitsFbDateTime(TDateTime value) { return std::isfinite(value) && std::fabs(value) < 3.0e6; }

// `value` must satisfy FitsFbDateTime; anything else gives the zero date.
inline FbDateTime ToFbDateTime(TDateTime value) {
  FbDateTime r;
  if (!FitsFbDateTime(value)) return r;
  double whole = std::trunc(value);
  double fraction = std::fabs(value - whole);
  std::int64_t day = static_cast<std::int64_t>(whole);
  std::int64_t ticks = std::llround(fraction * static_cast<double>(kTicksPerDay));
  if (ticks >= kTicksPerDay) {
    ticks -= kTicksPerDay;
    day += 1;  // the time of day runs forwards whatever the sign
  }
  r.mjd = static_cast<std::int32_t>(day + kMjdOf18991230);
  r.ticks = static_cast<std::uint32_t>(ticks);
  return r;
}

inline TDateTime FromFbDateTime(std::int32_t mjd, std::uint32_t ticks) {
  std::int64_t day = static_cast<std::int64_t>(mjd) - kMjdOf18991230;
  double fraction = static_cast<double>(ticks) / static_cast<double>(kTicksPerDay);
  return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

}  // namespace trelvex::db
