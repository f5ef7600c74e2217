#pragma once
// The one place where Windows-1250 text meets other encodings: the console,
// JSON files, wide strings and file system paths.
#include <filesystem>
#include <string>
#include <string_view>

namespace trelvex {

std::string Cp1250ToUtf8(std::string_view text);
// Characters without a Windows-1250 form become '?'.
std::string Utf8ToCp1250(std::string_view text);
bool IsValidUtf8(std::string_view text);

std::wstring Cp1250ToWide(std::string_view text);
std::string WideToCp1250(std::wstring_view text);

std::filesystem::path PathFromText(std::string_view text);
std::string TextFromPath(const std::filesystem::path& path);

}  // namespace trelvex
