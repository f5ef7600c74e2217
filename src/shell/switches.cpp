#include "shell/switches.h"

#include "common/platform.h"
#include "common/text.h"

namespace trelvex {

std::string SwitchValue(std::string_view name, const std::vector<std::string>& params) {
  const std::string key = "-" + UpperCase(name) + "=";
  for (std::size_t i = 1; i < params.size(); ++i) {
    const std::string& param = params[i];
    if (UpperCase(param).starts_with(key)) {
      // Upper-casing keeps every byte in place, so the first "=" of the
      // parameter as written ends the key.
      return param.substr(param.find('=') + 1);
    }
  }
  return {};
}

std::string SwitchValue(std::string_view name) {
  return SwitchValue(name, platform::CommandLineParams());
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> params;
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  while (true) {
    while (i < n && blank(commandLine[i])) ++i;
    if (i >= n) break;
    std::string param;
    while (i < n && !blank(commandLine[i])) {
      if (commandLine[i] == '"') {
        ++i;
        while (i < n && commandLine[i] != '"') param += commandLine[i++];
        if (i < n) ++i;  // the closing quote
      } else {
        param += commandLine[i++];
      }
    }
    params.push_back(std::move(param));
  }
  return params;
}

}  // namespace trelvex
