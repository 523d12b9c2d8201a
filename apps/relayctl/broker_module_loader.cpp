#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "broker_module.h"

namespace {

// Stands in for the link when the module is missing: the command fails with the reason.
class UnavailableBroker : public BrokerConnection {
 public:
  explicit UnavailableBroker(std::string reason) : reason_(std::move(reason)) {}
  std::optional<std::string> start() override { return reason_; }
  bool connected() const override { return false; }
  std::string failure() const override { return reason_; }
  bool all_acknowledged() const override { return true; }
  bool publish(const std::string&, const std::string&, bool) override { return false; }
  void subscribe(const std::string&) override {}

 private:
  std::string reason_;
};

constexpr const char* module_name = "relayctl_mqtt.so";

// Beside the program first, so that a build runs its own module, then in relayctl's
// library folder of the installed tree the program is in.
void* open_module(std::string& error) {
  std::error_code ignored;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
  for (const auto& folder : {program, program / RELAYCTL_MODULE_DIR}) {
    const std::string path = (folder / module_name).lexically_normal().string();
    if (!std::filesystem::exists(path, ignored)) continue;
    // Kept loaded for the rest of the run: the link's code must outlive the link.
    if (void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
    const char* why = ::dlerror();
    error = why ? why : path;
    return nullptr;
  }
  error = std::string(module_name) + " is not installed in " +
          (program / RELAYCTL_MODULE_DIR).lexically_normal().string();
  return nullptr;
}

}  // namespace

std::unique_ptr<BrokerConnection> load_broker_connection(const BrokerAccess& access,
                                                         EventLoop& loop) {
  std::string error;
  void* module = open_module(error);
  using Entry = decltype(&relayctl_broker_connection);
  auto* entry =
      module ? reinterpret_cast<Entry>(::dlsym(module, "relayctl_broker_connection")) : nullptr;
  if (!entry) {
    if (module) error = "relayctl_mqtt.so has no broker link";
    return std::make_unique<UnavailableBroker>("served lines are not available: " + error);
  }
  return std::unique_ptr<BrokerConnection>(
      entry(access, static_cast<unsigned long>(::getpid()), loop));
}
