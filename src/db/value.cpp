// Field and parameter values. Conversions between the kinds follow the usual
// data-access rules: a null reads as the empty text, 0 or the zero date;
// a floating-point value read as an integer is rounded half away from zero;
// a text read as a number must hold one, else EDatabaseError is raised.
#include <charconv>
#include <cmath>
#include <limits>

#include "common/text.h"
#include "db/database.h"

namespace trelvex::db {
namespace {

[[noreturn]] void BadConversion(const std::string& text, const char* what) {
  throw EDatabaseError("'" + text + "' is not a valid " + what);
}

double ParseFloat(const std::string& text) {
  std::string t = Trim(text);
  double v = 0;
  const char* begin = t.data();
  const char* end = t.data() + t.size();
  if (!t.empty() && *begin == '+') ++begin;
  auto [p, ec] = std::from_chars(begin, end, v);
  if (t.empty() || ec != std::errc() || p != end) BadConversion(text, "floating point value");
  return v;
}

std::int64_t ParseInt(const std::string& text) {
  std::string t = Trim(text);
  std::int64_t v = 0;
  const char* begin = t.data();
  const char* end = t.data() + t.size();
  if (!t.empty() && *begin == '+') ++begin;
  auto [p, ec] = std::from_chars(begin, end, v);
  if (t.empty() || ec != std::errc() || p != end) BadConversion(text, "integer value");
  return v;
}

std::int64_t RoundToInt64(double v) {
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (!std::isfinite(v) || std::fabs(v) >= 9223372036854775807.0) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    BadConversion(std::string(buf, r.ptr), "integer value");
  }
  return std::llround(v);
}

}  // namespace

Value Value::FromInt(std::int64_t v) {
  Value r;
  r.v_.emplace<std::int64_t>(v);
  return r;
}

Value Value::FromFloat(double v) {
  Value r;
  r.v_.emplace<2>(v);
  return r;
}

Value Value::FromText(std::string v) {
  Value r;
  r.v_.emplace<std::string>(std::move(v));
  return r;
}

Value Value::FromDateTime(TDateTime v) {
  Value r;
  r.v_.emplace<4>(v);
  r.isDateTime_ = true;
  return r;
}

bool Value::IsNull() const { return v_.index() == 0; }

std::string Value::AsString() const {
  switch (v_.index()) {
    case 0:
      return {};
    case 1:
      return std::to_string(std::get<1>(v_));
    case 2: {
      // Up to 15 significant digits, the shortest general form, a point.
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, std::get<2>(v_), std::chars_format::general, 15);
      return std::string(buf, r.ptr);
    }
    case 3:
      return std::get<3>(v_);
    default:
      return DateTimeToText(std::get<4>(v_));
  }
}

std::int64_t Value::AsInt64() const {
  switch (v_.index()) {
    case 0:
      return 0;
    case 1:
      return std::get<1>(v_);
    case 2:
      return RoundToInt64(std::get<2>(v_));
    case 3:
      return ParseInt(std::get<3>(v_));
    default:
      return RoundToInt64(std::get<4>(v_));
  }
}

std::int32_t Value::AsInteger() const {
  std::int64_t v = AsInt64();
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    BadConversion(std::to_string(v), "32-bit integer value");
  return static_cast<std::int32_t>(v);
}

double Value::AsFloat() const {
  switch (v_.index()) {
    case 0:
      return 0.0;
    case 1:
      return static_cast<double>(std::get<1>(v_));
    case 2:
      return std::get<2>(v_);
    case 3:
      return ParseFloat(std::get<3>(v_));
    default:
      return std::get<4>(v_);
  }
}

TDateTime Value::AsDateTime() const {
  switch (v_.index()) {
    case 0:
      return 0.0;
    case 3:
      BadConversion(std::get<3>(v_), "date and time");
    default:
      return AsFloat();
  }
}

}  // namespace trelvex::db
