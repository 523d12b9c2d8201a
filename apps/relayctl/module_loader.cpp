#include "module_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

// Beside the program first, so that a build runs its own module, then in relayctl's
// library folder of the installed tree the program is in.
void* open_module(const std::string& name, std::string& error, int mode) {
  std::error_code ignored;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
  for (const auto& folder : {program, program / RELAYCTL_MODULE_DIR}) {
    const std::string path = (folder / name).lexically_normal().string();
    if (!std::filesystem::exists(path, ignored)) continue;
    // Kept loaded: the objects it made must outlive their users.
    if (void* module = ::dlopen(path.c_str(), mode | RTLD_LOCAL)) return module;
    const char* why = ::dlerror();
    error = why ? why : path;
    return nullptr;
  }
  error =
      name + " is not installed in " + (program / RELAYCTL_MODULE_DIR).lexically_normal().string();
  return nullptr;
}
