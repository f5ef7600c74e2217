#pragma once
// Text helpers. All text inside the worker is Windows-1250 bytes held in
// std::string; lengths and positions count bytes.
#include <cstdint>
#include <string>
#include <string_view>

namespace trelvex {

// Token before the first separator; `text` loses the token and the separator.
// An empty separator is never found: the token is the whole text.
std::string CutToken(std::string& text, std::string_view separator);
// What CutToken would return, `text` unchanged.
std::string PeekToken(const std::string& text, std::string_view separator);
// Next line of at most `max` bytes off the front of `text`, cut at separators.
std::string CutLine(std::string& text, int max, std::string_view separator);

// The five XML special characters replaced by entities; nothing else changes.
std::string XmlEscape(std::string_view text);
// Two decimals, a point, halves away from zero, never a negative zero.
std::string FormatXmlNumber(double value);

std::uint32_t BitMask(std::uint8_t bit);
bool IsBitSet(std::uint8_t bit, std::int32_t mask);

// Bytes 0..32 removed at both ends (blanks and control characters).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// Upper case in Windows-1250, Polish letters folded too.
std::string UpperCase(std::string_view text);

// The first `count` bytes of `text` (the whole text when shorter).
std::string LeftStr(std::string_view text, std::size_t count);

// Decimal whole number (optional sign, digits only, 32-bit range); the
// default when the text does not read as one.
std::int32_t StrToIntDef(std::string_view text, std::int32_t def);
std::int64_t StrToInt64Def(std::string_view text, std::int64_t def);

}  // namespace trelvex
