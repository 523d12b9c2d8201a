#include <dlfcn.h>
#include <unistd.h>

#include "broker_module.h"
#include "module_loader.h"

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

}  // namespace

std::unique_ptr<BrokerConnection> load_broker_connection(const BrokerAccess& access,
                                                         EventLoop& loop) {
  std::string error;
  void* module = open_module("relayctl_mqtt.so", error);
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
