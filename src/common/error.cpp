#include "common/error.h"

#include "common/text.h"

namespace trelvex {

std::string ExceptionMessage(const std::exception& e) {
  if (auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
  const char* text = e.what();
  return text ? std::string(text) : std::string();
}

std::string ExceptionText(std::string_view context, const std::exception& e) {
  auto* own = dynamic_cast<const Exception*>(&e);
  std::string text(context);
  text += ' ';
  text += own ? own->ClassName() : "Exception";
  text += " \"";
  text += ExceptionMessage(e);
  text += '"';
  return Trim(text);
}

}  // namespace trelvex
