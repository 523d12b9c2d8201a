#include "serial/port_opening.h"

#include "common/text_number.h"
#include "protocol/frame.h"

PortOpening open_port(SerialPort& port, const std::string& port_text,
                      const std::optional<std::string>& device,
                      const std::function<std::optional<std::string>()>& check) {
  std::string name;
  if (device) {
    port.select_device(*device);
    name = *device;
  } else if (const auto number = text_to_int16(port_text)) {
    port.select_port(*number);
    name = "Port " + std::to_string(*number);
  } else {
    return {false, "Port \"" + port_text + "\" could not be opened: not a port number", {}, {}};
  }
  if (const auto why = check ? check() : std::nullopt) {
    return {false, name + " was not opened: " + *why, {}, {}};
  }
  const OpenResult result = port.open();
  // A numbered port is told with the device it maps to.
  if (!device) name += " (" + (result.device.empty() ? "no device" : result.device) + ")";
  if (!result.ok) return {false, name + " could not be opened: " + result.reason, {}, {}};
  port.set_receive_threshold(static_cast<int>(frame_size));
  return {true,
          {},
          result.notice.empty() ? "" : name + " was opened: " + result.notice,
          result.device.empty() ? name : result.device};
}
