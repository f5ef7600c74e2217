#include "common/datetime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace trelvex {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;

// Days between 1 January 1970 and 30 December 1899.
constexpr std::int64_t kEpochShift = 25'569;

std::int64_t DaysFromCivil(int year, int month, int day) {
  using namespace std::chrono;
  return sys_days(std::chrono::year(year) / std::chrono::month(static_cast<unsigned>(month)) /
                  std::chrono::day(static_cast<unsigned>(day)))
             .time_since_epoch()
             .count() +
         kEpochShift;
}

std::string Two(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}
std::string Four(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d", v);
  return buf;
}
std::string Three(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%03d", v);
  return buf;
}

}  // namespace

// A negative value keeps its date in the integer part and its time as the
// magnitude of the fraction (-1.25 is 29.12.1899 06:00).
TDateTime EncodeDateTime(const CivilDateTime& c) {
  double days = static_cast<double>(DaysFromCivil(c.year, c.month, c.day));
  double time = (((c.hour * 60.0 + c.minute) * 60.0 + c.second) * 1000.0 + c.msec) / kMsPerDay;
  return days < 0 ? days - time : days + time;
}

CivilDateTime DecodeDateTime(TDateTime value) {
  CivilDateTime c;
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return c;  // beyond year 9999
  double whole = std::trunc(value);
  auto days = static_cast<std::int64_t>(whole);
  auto ms = static_cast<std::int64_t>(std::llround(std::fabs(value - whole) * kMsPerDay));
  if (ms >= kMsPerDay) {
    // A time that rounds up to midnight belongs to the next day.
    ms -= kMsPerDay;
    days += value < 0 ? -1 : 1;
  }
  using namespace std::chrono;
  year_month_day ymd{sys_days(std::chrono::days(days - kEpochShift))};
  c.year = static_cast<int>(ymd.year());
  c.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  c.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  c.hour = static_cast<int>(ms / 3'600'000);
  c.minute = static_cast<int>(ms / 60'000 % 60);
  c.second = static_cast<int>(ms / 1000 % 60);
  c.msec = static_cast<int>(ms % 1000);
  return c;
}

TDateTime Now() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t seconds = system_clock::to_time_t(now);
  auto msec = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  if (msec < 0) msec += 1000;
  std::tm local{};
  {
    // std::localtime shares one buffer; copy it out under a lock.
    static std::mutex lock;
    std::lock_guard guard(lock);
    if (const std::tm* t = std::localtime(&seconds)) local = *t;
  }
  CivilDateTime c;
  c.year = local.tm_year + 1900;
  c.month = local.tm_mon + 1;
  c.day = local.tm_mday;
  c.hour = local.tm_hour;
  c.minute = local.tm_min;
  c.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // leap second
  c.msec = static_cast<int>(msec);
  return EncodeDateTime(c);
}

TDateTime Today() {
  CivilDateTime c = DecodeDateTime(Now());
  c.hour = c.minute = c.second = c.msec = 0;
  return EncodeDateTime(c);
}

std::string FormatLogStamp(TDateTime t) {
  CivilDateTime c = DecodeDateTime(t);
  return Two(c.day) + "." + Two(c.month) + "." + Four(c.year) + " " + Two(c.hour) + ":" +
         Two(c.minute) + ":" + Two(c.second) + ":" + Three(c.msec);
}

std::string FormatLogFileStamp(TDateTime t) {
  CivilDateTime c = DecodeDateTime(t);
  return Four(c.year) + "." + Two(c.month) + "." + Two(c.day) + " " + Two(c.hour) + "." +
         Two(c.minute) + "." + Two(c.second);
}

std::string FormatIsoDate(TDateTime t) {
  CivilDateTime c = DecodeDateTime(t);
  return Four(c.year) + "-" + Two(c.month) + "-" + Two(c.day);
}

std::string DateTimeToText(TDateTime t) {
  CivilDateTime c = DecodeDateTime(t);
  std::string text = Two(c.day) + "." + Two(c.month) + "." + Four(c.year);
  if (c.hour != 0 || c.minute != 0 || c.second != 0 || c.msec != 0) {
    text += " " + Two(c.hour) + ":" + Two(c.minute) + ":" + Two(c.second);
  }
  return text;
}

}  // namespace trelvex
