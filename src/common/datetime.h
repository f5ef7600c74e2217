#pragma once
// Date-times as a day count from 30 December 1899 with the time of day as the
// fraction (0.0 is the "zero date" that a null date reads as).
#include <cstdint>
#include <string>

namespace trelvex {

using TDateTime = double;

struct CivilDateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, msec = 0;
};

TDateTime EncodeDateTime(const CivilDateTime& c);
CivilDateTime DecodeDateTime(TDateTime value);

TDateTime Now();    // local time
TDateTime Today();  // local date at midnight

std::string FormatLogStamp(TDateTime t);      // dd.mm.yyyy hh:nn:ss:zzz
std::string FormatLogFileStamp(TDateTime t);  // yyyy.mm.dd hh.nn.ss
std::string FormatIsoDate(TDateTime t);       // yyyy-mm-dd
// Short date and long time (dd.mm.yyyy hh:nn:ss); the time is left out when
// it is exactly midnight.
std::string DateTimeToText(TDateTime t);

}  // namespace trelvex
