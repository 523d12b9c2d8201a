#include "sim_options.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "common/address_list.h"

namespace {

std::optional<long> whole_number(std::string_view text, long low, long high) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

std::variant<SimOptions, std::string> parse_sim_options(int argc, const char* const argv[]) {
  SimOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      options.help = true;
      continue;
    }
    if (option == "--version" || option == "-V") {
      options.version = true;
      continue;
    }
    if (option == "--verbose" || option == "-v") {
      options.verbose = true;
      continue;
    }
    if (option == "--times") {
      options.verbose = options.times = true;
      continue;
    }
    const bool takes_value = option == "--address" || option == "--addresses" ||
                             option == "--silent" || option == "--slow" || option == "--mode" ||
                             option == "--delay-ms" || option == "--mode-ms" ||
                             option == "--link-dir" || option == "--port";
    if (!takes_value) return "unknown option " + std::string(option) + " (try --help)";
    if (i + 1 >= argc) return "option " + std::string(option) + " needs a value (try --help)";
    const std::string_view value = argv[++i];
    const auto bad_value = [&](std::string_view expected) {
      return "option " + std::string(option) + ": \"" + std::string(value) + "\" is not " +
             std::string(expected);
    };
    if (option == "--address") {
      const auto number = whole_number(value, 0, 255);
      if (!number) return bad_value("an address from 0 to 255");
      options.addresses = {static_cast<std::uint8_t>(*number)};
    } else if (option == "--addresses" || option == "--silent" || option == "--slow") {
      auto list = parse_address_list(value);
      if (const auto* error = std::get_if<std::string>(&list)) {
        return "option " + std::string(option) + ": " + *error;
      }
      auto& target = option == "--silent" ? options.silent
                     : option == "--slow" ? options.slow
                                          : options.addresses;
      target = std::get<std::vector<std::uint8_t>>(std::move(list));
    } else if (option == "--mode") {
      const auto mode = answer_mode_from_name(value);
      if (!mode)
        return bad_value(
            "one of normal, silent, bad-checksum, stray-byte, late, flood, flood-unpaced, "
            "deaf-switch");
      options.mode = *mode;
    } else if (option == "--delay-ms") {
      const auto number = whole_number(value, 0, 60'000);
      if (!number) return bad_value("a delay from 0 to 60000 ms");
      options.delay = std::chrono::milliseconds(*number);
    } else if (option == "--mode-ms") {
      const auto number = whole_number(value, 0, 3'600'000);
      if (!number) return bad_value("a time from 0 to 3600000 ms");
      options.mode_time = std::chrono::milliseconds(*number);
    } else if (option == "--link-dir") {
      if (value.empty()) return bad_value("a folder");
      options.link_dir = std::filesystem::path(value);
    } else if (option == "--port") {
      const auto number = whole_number(value, 1, 32767);
      if (!number) return bad_value("a port number from 1 to 32767");
      options.port = static_cast<int>(*number);
    } else {
      return "unknown option " + std::string(option) + " (try --help)";
    }
  }
  for (const auto* listed : {&options.silent, &options.slow}) {
    for (const std::uint8_t address : *listed) {
      if (!std::binary_search(options.addresses.begin(), options.addresses.end(), address)) {
        return std::string("option ") + (listed == &options.slow ? "--slow" : "--silent") +
               ": board " + std::to_string(address) + " is not on the line (see --addresses)";
      }
    }
  }
  return options;
}

std::string sim_usage(const std::string& program) {
  return "Usage: " + program +
         " [options]\n"
         "A virtual 16-relay board on a pseudo-terminal. Prints the terminal's device\n"
         "path on the first line of its output, then answers the panel's command frames\n"
         "until it is interrupted.\n"
         "\n"
         "  --address A     board address, 0 to 255 (default 1)\n"
         "  --addresses L   several boards on the one line, e.g. 1,3,5-7; each answers\n"
         "                  only the frames for its own address\n"
         "  --silent L      those of them that carry out commands but never answer, as a\n"
         "                  dead board on a shared line\n"
         "  --slow L        those of them that answer --delay-ms late whatever the mode\n"
         "  --mode M        normal, silent, bad-checksum, stray-byte (a 00 byte before\n"
         "                  every answer), late, or flood (status frames back to back\n"
         "                  at the speed of a 9600-baud line, asked for or not),\n"
         "                  flood-unpaced (the same as fast as the terminal takes\n"
         "                  them, as no real line could), or\n"
         "                  deaf-switch (answers every frame but switches no relay)\n"
         "                  (default normal)\n"
         "  --delay-ms D    how late a late answer comes (default 200)\n"
         "  --mode-ms D     keep the mode for D ms from the first frame read, then\n"
         "                  answer normally (default: for ever)\n"
         "  --link-dir DIR  also place a link DIR/com<port> to the device, so that the\n"
         "                  panel started from DIR opens the board as port <port>; DIR\n"
         "                  is made (mode 0700) when missing, and the link removed at\n"
         "                  exit\n"
         "  --port N        the port number of that link (default 1)\n"
         "  -v, --verbose   log every frame to standard error\n"
         "  --times         the same, each frame with the milliseconds since the board\n"
         "                  started: how long a relay stayed switched, read off the log\n"
         "  -h, --help      show this text\n"
         "  -V, --version   show the version\n"
         "\n"
         "Signals: SIGUSR1 pulls the board's plug (the line hangs up and the link goes),\n"
         "SIGUSR2 plugs it back in (a new terminal, its path printed, the link placed\n"
         "again); the relays keep their states meanwhile. SIGURG cuts the cable between\n"
         "the adapter and the board (the terminal stays; the board hears and answers\n"
         "nothing), and mends it at the next SIGURG. SIGINT or SIGTERM ends it.\n";
}
