// The export configuration record, its option lines and the database name rule.
#include <string>
#include <vector>

#include "common/text.h"
#include "session/dm.h"

namespace trelvex {

std::string TKonfEksport::Option(const std::string& name) const {
  const std::string key = UpperCase(name);
  for (const std::string& line : DODATKOWE) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;  // a line without "=" has no name
    if (UpperCase(std::string_view(line).substr(0, eq)) == key) return line.substr(eq + 1);
  }
  return {};
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  // A final break does not open another (empty) line.
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string DatabaseName(const std::string& host, const std::string& path) {
  // Without a host the client opens the path locally; a leading colon would
  // make it an unopenable file name.
  if (host.empty()) return path;
  if (host.find(':') == std::string::npos) return host + ":" + path;
  return host + path;
}

}  // namespace trelvex
