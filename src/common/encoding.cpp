#include "common/encoding.h"

#include <array>
#include <cstdint>
#include <unordered_map>

namespace trelvex {

namespace {

// Unicode code points of the bytes 0x80..0xFF in Windows-1250. The five bytes
// that the code page leaves undefined map to the C1 control of the same
// number, as Windows does, so that every byte survives a round trip.
constexpr std::array<char16_t, 128> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

char32_t ByteToCodePoint(unsigned char b) { return b < 0x80 ? b : kHigh[b - 0x80]; }

// The byte of a code point, or '?' when Windows-1250 has none.
char CodePointToByte(char32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  static const std::unordered_map<char32_t, unsigned char> reverse = [] {
    std::unordered_map<char32_t, unsigned char> m;
    for (unsigned i = 0; i < kHigh.size(); ++i) m.emplace(kHigh[i], static_cast<unsigned char>(0x80 + i));
    return m;
  }();
  auto it = reverse.find(cp);
  return it == reverse.end() ? '?' : static_cast<char>(it->second);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at `pos`; false for a malformed one (overlong
// forms, surrogates and values above U+10FFFF included).
bool NextUtf8(std::string_view text, std::size_t& pos, char32_t& cp) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char b0 = byte(pos);
  std::size_t len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    ++pos;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (pos + len > text.size()) return false;
  for (std::size_t i = 1; i < len; ++i) {
    unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  pos += len;
  return true;
}

}  // namespace

std::string Cp1250ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char c : text) AppendUtf8(out, ByteToCodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8ToCp1250(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp;
    if (NextUtf8(text, pos, cp)) {
      out += CodePointToByte(cp);
    } else {
      out += '?';
      ++pos;
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  char32_t cp;
  while (pos < text.size()) {
    if (!NextUtf8(text, pos, cp)) return false;
  }
  return true;
}

std::wstring Cp1250ToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (char c : text) out += static_cast<wchar_t>(ByteToCodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string WideToCp1250(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      // A surrogate pair stands for one character outside the code page.
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
        char32_t low = static_cast<char32_t>(text[i + 1]);
        if (low >= 0xDC00 && low <= 0xDFFF) ++i;
      }
    }
    out += CodePointToByte(cp);
  }
  return out;
}

std::filesystem::path PathFromText(std::string_view text) {
  std::string utf8 = Cp1250ToUtf8(text);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string TextFromPath(const std::filesystem::path& path) {
  std::u8string utf8 = path.u8string();
  std::string bytes(utf8.begin(), utf8.end());
  // A name that is not UTF-8 is taken byte for byte.
  return IsValidUtf8(bytes) ? Utf8ToCp1250(bytes) : bytes;
}

}  // namespace trelvex
