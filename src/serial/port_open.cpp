#include "serial/port_open.h"

#include "serial/port_device.h"
#include "serial/present_devices.h"
#include "serial/serial_platform.h"

OpenResult open_selected_device(
    std::int16_t number, const std::string& named_device, const std::filesystem::path& program_dir,
    bool already_open,
    const std::function<std::optional<std::string>(const std::string& device)>& open_line) {
  const auto device = named_device.empty() ? port_device(number, program_dir)
                                           : std::optional<std::string>(named_device);
  if (!device) return {false, {}, "no port has this number"};
  if (already_open) return {false, *device, "the port is already open"};
  if (auto reason = open_line(*device)) {
    if (!device_present(*device)) {
      reason->append(missing_device_advice(
          number, present_serial_devices("/dev", serial_line_answers), program_dir));
    }
    return {false, *device, std::move(*reason)};
  }
  return {true, *device, {}};
}
