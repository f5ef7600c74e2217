#pragma once
// The common exception base class of the worker. Every stage raises and wraps
// errors of this family; ClassName() is what the outermost handler reports.
#include <exception>
#include <string>
#include <string_view>

namespace trelvex {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

// A failure reported by the database client (text from its status vector).
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EDatabaseError"; }
};

// A failed call of the ERP's automation interface (text from the ERP).
class EOleException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EOleException"; }
};

// The message of any caught exception (what() for foreign ones).
std::string ExceptionMessage(const std::exception& e);
// context, blank, class name, blank, message in double quotes; trimmed.
std::string ExceptionText(std::string_view context, const std::exception& e);

}  // namespace trelvex
