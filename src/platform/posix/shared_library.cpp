// Run-time loading of shared libraries (the Firebird client) with dlopen.
#include <dlfcn.h>

#include "common/platform.h"

namespace trelvex::platform {
namespace {

class PosixSharedLibrary final : public SharedLibrary {
 public:
  explicit PosixSharedLibrary(void* handle) : handle_(handle) {}
  ~PosixSharedLibrary() override { dlclose(handle_); }
  PosixSharedLibrary(const PosixSharedLibrary&) = delete;
  PosixSharedLibrary& operator=(const PosixSharedLibrary&) = delete;

  void* Symbol(const char* name) const override { return dlsym(handle_, name); }

 private:
  void* handle_;
};

}  // namespace

std::unique_ptr<SharedLibrary> LoadSharedLibrary(const std::vector<std::string>& names,
                                                 std::string& error) {
  error.clear();
  for (const std::string& name : names) {
    if (void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      error.clear();
      return std::make_unique<PosixSharedLibrary>(handle);
    }
    const char* text = dlerror();
    if (!error.empty()) error += "\r\n";
    error += text ? text : name;
  }
  if (names.empty()) error = "no library name given";
  return nullptr;
}

std::vector<std::string> FirebirdClientLibraryNames() { return {"libfbclient.so.2"}; }

}  // namespace trelvex::platform
