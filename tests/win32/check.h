#pragma once
// A small assertion harness for the Windows test programs (GoogleTest has no
// mingw build in Debian). TEST_CASE registers a case; CHECK records a failure
// and goes on; REQUIRE ends the case. RunAll prints every case's outcome and
// a closing line "N passed, N failed", and returns the process's exit code.
#include <cstdio>
#include <exception>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace check {

struct Case {
  const char* name;
  void (*run)();
};

inline std::vector<Case>& Cases() {
  static std::vector<Case> cases;
  return cases;
}

inline int& CaseFailures() {
  static int failures = 0;
  return failures;
}

struct Register {
  Register(const char* name, void (*run)()) { Cases().push_back({name, run}); }
};

struct Abort {};

inline void Fail(const char* file, int line, const std::string& what) {
  ++CaseFailures();
  std::printf("    %s:%d: %s\n", file, line, what.c_str());
  std::fflush(stdout);
}

template <typename T>
std::string Show(const T& value) {
  std::ostringstream out;
  if constexpr (std::is_convertible_v<T, std::string>) {
    out << '"' << std::string(value) << '"';
  } else {
    out << value;
  }
  return out.str();
}

// Runs the cases whose name contains `filter` (all when it is empty).
inline int RunAll(const std::string& filter = {}) {
  int passed = 0, failed = 0;
  for (const Case& c : Cases()) {
    if (!filter.empty() && std::string(c.name).find(filter) == std::string::npos) continue;
    CaseFailures() = 0;
    std::printf("[ RUN  ] %s\n", c.name);
    std::fflush(stdout);
    try {
      c.run();
    } catch (const Abort&) {
    } catch (const std::exception& e) {
      Fail(__FILE__, __LINE__, std::string("unexpected exception: ") + e.what());
    } catch (...) {
      Fail(__FILE__, __LINE__, "unexpected exception");
    }
    if (CaseFailures() == 0) {
      ++passed;
      std::printf("[  OK  ] %s\n", c.name);
    } else {
      ++failed;
      std::printf("[ FAIL ] %s\n", c.name);
    }
    std::fflush(stdout);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  std::fflush(stdout);
  return failed == 0 ? 0 : 1;
}

}  // namespace check

#define CHECK_CONCAT2(a, b) a##b
#define CHECK_CONCAT(a, b) CHECK_CONCAT2(a, b)

#define TEST_CASE(name)                                                        \
  static void CHECK_CONCAT(check_case_, __LINE__)();                           \
  static check::Register CHECK_CONCAT(check_register_, __LINE__)(              \
      name, &CHECK_CONCAT(check_case_, __LINE__));                             \
  static void CHECK_CONCAT(check_case_, __LINE__)()

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) check::Fail(__FILE__, __LINE__, "CHECK(" #cond ") failed");   \
  } while (0)

#define REQUIRE(cond)                                                          \
  do {                                                                         \
    if (!(cond)) {                                                             \
      check::Fail(__FILE__, __LINE__, "REQUIRE(" #cond ") failed");            \
      throw check::Abort{};                                                    \
    }                                                                          \
  } while (0)

#define CHECK_EQ(a, b)                                                         \
  do {                                                                         \
    const auto& check_a = (a);                                                 \
    const auto& check_b = (b);                                                 \
    if (!(check_a == check_b))                                                 \
      check::Fail(__FILE__, __LINE__,                                          \
                  "CHECK_EQ(" #a ", " #b "): " + check::Show(check_a) +        \
                      " != " + check::Show(check_b));                          \
  } while (0)

// The statement raises an exception of `type`; its what() is kept in `text`.
#define CHECK_THROWS_TEXT(statement, type, text)                               \
  do {                                                                         \
    bool check_thrown = false;                                                 \
    try {                                                                      \
      statement;                                                               \
    } catch (const type& check_e) {                                            \
      check_thrown = true;                                                     \
      text = check_e.what();                                                   \
    }                                                                          \
    if (!check_thrown)                                                         \
      check::Fail(__FILE__, __LINE__, "no " #type " from " #statement);        \
  } while (0)
