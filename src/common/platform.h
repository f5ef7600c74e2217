#pragma once
// Services that each platform layer (src/platform/<platform>) implements for
// the subsystems. Nothing here names an operating-system type.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace trelvex::platform {

// Command-line parameters as Windows-1250 text; parameter 0 is the program file.
std::vector<std::string> CommandLineParams();
// Full path of the program file.
std::filesystem::path ProgramFile();
// File version of a program file as four numbers joined by dots; empty when
// it has none.
std::string FileVersionText(const std::filesystem::path& programFile);
// Makes `dir` (Windows-1250 text) the process's current directory; raises
// Exception with the system's text on failure.
void SetCurrentDir(const std::string& dir);
// The directory separator of the platform's paths ('/' or '\\').
char PathSeparator();

// A shared library loaded at run time.
class SharedLibrary {
 public:
  virtual ~SharedLibrary() = default;
  // Address of an exported symbol, or nullptr.
  virtual void* Symbol(const char* name) const = 0;
};
// Loads the first library of `names` that loads; nullptr with `error` set
// when none does.
std::unique_ptr<SharedLibrary> LoadSharedLibrary(const std::vector<std::string>& names,
                                                 std::string& error);
// File names of the Firebird client library, in the order they are tried.
std::vector<std::string> FirebirdClientLibraryNames();

}  // namespace trelvex::platform
