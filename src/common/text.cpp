#include "common/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace trelvex {

std::string CutToken(std::string& text, std::string_view separator) {
  std::size_t pos = separator.empty() ? std::string::npos : text.find(separator);
  if (pos == std::string::npos) {
    std::string token = std::move(text);
    text.clear();
    return token;
  }
  std::string token = text.substr(0, pos);
  text.erase(0, pos + separator.size());
  return token;
}

std::string PeekToken(const std::string& text, std::string_view separator) {
  std::size_t pos = separator.empty() ? std::string::npos : text.find(separator);
  return pos == std::string::npos ? text : text.substr(0, pos);
}

namespace {
bool OnlyBlanks(std::string_view text) {
  for (unsigned char c : text) {
    if (c > 32) return false;
  }
  return true;
}
}  // namespace

std::string CutLine(std::string& text, int max, std::string_view separator) {
  // Callers pass fixed positive limits; a smaller one still takes a byte so
  // that a caller's loop always makes progress.
  const std::size_t limit = max < 1 ? 1 : static_cast<std::size_t>(max);
  if (text.size() <= limit) {
    std::string line = std::move(text);
    text.clear();
    return line;
  }
  if (PeekToken(text, separator).size() > limit) {
    std::string line = text.substr(0, limit);
    text.erase(0, limit);
    return line;
  }
  std::string line = CutToken(text, separator);
  while (!OnlyBlanks(text)) {
    std::string next = PeekToken(text, separator);
    if (line.size() + separator.size() + next.size() >= limit) break;
    line += separator;
    line += CutToken(text, separator);
  }
  return line;
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string FormatXmlNumber(double value) {
  if (!std::isfinite(value)) return "0.00";
  // Round the value's shortest decimal form of 15 significant digits, as the
  // amounts were written in the database, rather than its binary expansion:
  // 1.005 is an exact half in the data even if the double is slightly below.
  char buf[64];
  // The same digits as printf's "%.14e", without the locale and format parsing.
  const auto written =
      std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::scientific, 14);
  *written.ptr = '\0';
  std::string digits;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') digits += *p;
  }
  int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  // digits d1 d2 ... stand for 0.d1d2... x 10^(exponent + 1).
  const int pointPos = exponent + 1;
  const int keep = pointPos + 2;  // digits that remain after rounding to 1/100
  std::string kept;
  if (keep <= 0) {
    kept = (keep == 0 && digits[0] >= '5') ? "1" : "0";
  } else if (keep >= static_cast<int>(digits.size())) {
    kept = digits + std::string(keep - digits.size(), '0');
  } else {
    kept = digits.substr(0, keep);
    if (digits[keep] >= '5') {
      int i = keep - 1;
      for (; i >= 0 && kept[i] == '9'; --i) kept[i] = '0';
      if (i >= 0) {
        ++kept[i];
      } else {
        kept.insert(kept.begin(), '1');
      }
    }
  }
  // `kept` is the value in hundredths; drop leading zeros, keep three digits.
  std::size_t nz = kept.find_first_not_of('0');
  kept = nz == std::string::npos ? std::string() : kept.substr(nz);
  bool zero = kept.empty();
  if (kept.size() < 3) kept.insert(0, 3 - kept.size(), '0');
  std::string out;
  if (value < 0 && !zero) out += '-';
  out += kept.substr(0, kept.size() - 2);
  out += '.';
  out += kept.substr(kept.size() - 2);
  return out;
}

std::uint32_t BitMask(std::uint8_t bit) { return std::uint32_t{1} << (bit % 32); }

bool IsBitSet(std::uint8_t bit, std::int32_t mask) {
  return (static_cast<std::uint32_t>(mask) & BitMask(bit)) != 0;
}

std::string TrimLeft(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32) ++i;
  return std::string(text.substr(i));
}

std::string TrimRight(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= 32) --n;
  return std::string(text.substr(0, n));
}

std::string Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

namespace {
unsigned char UpperByte(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  switch (c) {
    case 0x9A: case 0x9C: case 0x9D: case 0x9E: case 0x9F:  // š ś ť ž ź
      return static_cast<unsigned char>(c - 0x10);
    case 0xB3: return 0xA3;  // ł
    case 0xB9: return 0xA5;  // ą
    case 0xBA: return 0xAA;  // ş
    case 0xBE: return 0xBC;  // ľ
    case 0xBF: return 0xAF;  // ż
    default: break;
  }
  // à..ţ fold to À..Ţ; 0xF7 is the division sign and 0xFF the dot above.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
  return c;
}
}  // namespace

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
  return out;
}

std::string LeftStr(std::string_view text, std::size_t count) {
  return std::string(text.substr(0, count));
}

namespace {
template <typename T>
T ParseInt(std::string_view text, T def) {
  if (text.empty()) return def;
  bool negative = false;
  std::size_t start = 0;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    start = 1;
  }
  std::string_view digits = text.substr(start);
  if (digits.empty()) return def;
  for (char c : digits) {
    if (c < '0' || c > '9') return def;
  }
  // Read with the sign so that the most negative value is still in range.
  std::string signedText = (negative ? "-" : "") + std::string(digits);
  T value{};
  auto [end, ec] = std::from_chars(signedText.data(), signedText.data() + signedText.size(), value);
  if (ec != std::errc() || end != signedText.data() + signedText.size()) return def;
  return value;
}
}  // namespace

std::int32_t StrToIntDef(std::string_view text, std::int32_t def) {
  return ParseInt<std::int32_t>(text, def);
}

std::int64_t StrToInt64Def(std::string_view text, std::int64_t def) {
  return ParseInt<std::int64_t>(text, def);
}

}  // namespace trelvex
