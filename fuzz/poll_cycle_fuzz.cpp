// The poll cycle driven by a script of what the timer, the line and the operator do,
// checked after every step against a model of the mailbox, the watchdog and the
// indicators that this file keeps by the board's rules:
//   - a tick writes one frame at most, and only with the port open and an address
//     text that is a number: the command the mailbox held, else a status query;
//   - a tick empties the mailbox; nothing else writes;
//   - only a valid 8-byte answer paints relays opened or closed, as its bits say,
//     and re-arms the watchdog to 5;
//   - only a tick that finds the watchdog run out paints unknown, all 16 at once.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/text_number.h"
#include "fuzz_input.h"
#include "invariant.h"
#include "link_rig.h"

namespace {

using Frame = std::array<std::uint8_t, 8>;

std::uint8_t sum_of_first_seven(const Frame& frame) {
  unsigned sum = 0;
  for (int i = 0; i < 7; ++i) sum += frame[i];
  return static_cast<std::uint8_t>(sum & 0xFF);
}

struct Model {
  bool pending = false;
  PollCycle::PendingCommand command;
  std::array<IndicatorState, relay_count> states;
  std::int32_t watchdog_ticks_left = 0;

  Model() { states.fill(IndicatorState::Unknown); }
};

// What one step of the script does; the byte that starts a step picks it.
enum Op : std::uint8_t {
  tick_op,         // tick
  bytes_arrive,    // n bytes, then the receive event
  other_event,     // an event of some code, with no new bytes
  box_click,       // relay_clicked(any 16-bit index)
  label_click,     // state_caption_clicked(-128..127)
  open_all,        // open_all
  close_all,       // close_all
  port_opens,      // the port control opens the port
  port_closes,     // ... and closes it, dropping waiting bytes
  address_typed,   // any text of up to 11 bytes in the address box
  address_number,  // a number, maybe with blanks or a fraction
  answer_arrives,  // a well-formed answer with states from the input
  op_count
};

class Script {
 public:
  void run(FuzzInput& input) {
    for (int step = 0; step < 400 && !input.empty(); ++step) {
      const auto op = static_cast<Op>(input.byte() % op_count);
      this->step(op, input);
      require(op == tick_op || rig_.port.writes.empty(), "only a tick writes");
      const bool receives = op == bytes_arrive || op == other_event || op == answer_arrives;
      require(op == tick_op || receives || rig_.indicators.paints.empty(),
              "only a tick or a receive event paints");
      check_state();
      rig_.port.writes.clear();
      rig_.indicators.paints.clear();
    }
  }

 private:
  void step(Op op, FuzzInput& input) {
    switch (op) {
      case tick_op:
        tick();
        break;
      case bytes_arrive: {
        const std::string_view bytes = input.text(input.byte() % 24);
        line_receives(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), comm_event_receive);
        break;
      }
      case other_event:
        line_receives({}, input.byte() % 4);
        break;
      case box_click:
        click(static_cast<std::int16_t>(input.word()), false);
        break;
      case label_click:
        click(static_cast<std::int8_t>(input.byte()), true);
        break;
      case open_all:
        operator_acts([&] { rig_.poll.open_all(); }, {0x13, 0xFF, 0xFF});
        break;
      case close_all:
        operator_acts([&] { rig_.poll.close_all(); }, {0x13, 0x00, 0x00});
        break;
      case port_opens:
        rig_.port.open();
        break;
      case port_closes:
        rig_.port.close();
        break;
      case address_typed:
        rig_.address.text = input.text(input.byte() % 12);
        break;
      case address_number: {
        const std::uint8_t style = input.byte();
        std::string text = number_to_text(input.word());
        if (style & 1) text = " " + text;
        if (style & 2) text += ".5";
        if (style & 4) text += "\t";
        rig_.address.text = text;
        break;
      }
      case answer_arrives: {
        const std::uint16_t opened = input.word();
        Frame frame{0x22,
                    input.byte(),
                    0,
                    0,
                    0,
                    static_cast<std::uint8_t>(opened >> 8),
                    static_cast<std::uint8_t>(opened & 0xFF),
                    0};
        frame[7] = sum_of_first_seven(frame);
        line_receives(std::vector<std::uint8_t>(frame.begin(), frame.end()), comm_event_receive);
        break;
      }
      case op_count:
        break;
    }
  }

  void tick() {
    const bool ran_out = model_.watchdog_ticks_left < 1;
    rig_.poll.tick();

    if (ran_out) {
      const auto& paints = rig_.indicators.paints;
      require(paints.size() == relay_count, "a run-out watchdog paints all 16 relays");
      for (int relay = 1; relay <= relay_count; ++relay) {
        const std::pair<int, IndicatorState> unknown{relay, IndicatorState::Unknown};
        require(std::count(paints.begin(), paints.end(), unknown) == 1,
                "a run-out watchdog paints each relay unknown once");
      }
      model_.states.fill(IndicatorState::Unknown);
    } else {
      require(rig_.indicators.paints.empty(), "a tick with the watchdog running paints nothing");
      --model_.watchdog_ticks_left;
    }

    const auto address = text_to_int32(rig_.address.text);
    const auto& writes = rig_.port.writes;
    if (!rig_.port.is_open() || !address) {
      require(writes.empty(), "nothing is written with the port closed or no address number",
              "address <" + rig_.address.text + ">");
    } else {
      const PollCycle::PendingCommand command =
          model_.pending ? model_.command : PollCycle::PendingCommand{0x10, 0x00, 0x00};
      Frame expected{0x55,
                     static_cast<std::uint8_t>(*address % 256),
                     command.command,
                     0x00,
                     0x00,
                     command.data1,
                     command.data2,
                     0x00};
      expected[7] = sum_of_first_seven(expected);
      require(writes.size() == 1, "a tick writes exactly one frame");
      require(std::equal(writes[0].begin(), writes[0].end(), expected.begin(), expected.end()),
              "the frame is the mailbox's command, else a status query",
              "wrote " + hex_text(writes[0]) + ", expected " + hex_text(expected));
    }
    model_.pending = false;
  }

  void line_receives(const std::vector<std::uint8_t>& bytes, int event_code) {
    // A closed port delivers no bytes and no events.
    if (!rig_.port.is_open()) return;
    auto& input = rig_.port.input;
    input.insert(input.end(), bytes.begin(), bytes.end());
    const std::size_t waiting = input.size();
    Frame first{};
    if (waiting >= 8) std::copy_n(input.begin(), 8, first.begin());

    rig_.poll.on_receive(event_code);

    require(rig_.port.writes.empty(), "an answer writes nothing");
    if (event_code != comm_event_receive || waiting < 8) {
      require(input.size() == waiting, "an early or other event reads nothing");
      require(rig_.indicators.paints.empty(), "an early or other event paints nothing");
      return;
    }
    require(input.size() == waiting - 8, "a receive event takes exactly one frame");
    const bool valid = first[0] == 0x22 && first[7] == sum_of_first_seven(first);
    if (!valid) {
      require(rig_.indicators.paints.empty(), "a damaged answer paints nothing", hex_text(first));
      return;
    }
    const auto& paints = rig_.indicators.paints;
    require(paints.size() == relay_count, "a valid answer paints all 16 relays", hex_text(first));
    for (int relay = 1; relay <= relay_count; ++relay) {
      const std::uint8_t states = relay <= 8 ? first[6] : first[5];
      const bool opened = (states >> ((relay - 1) % 8) & 1) == 1;
      const IndicatorState state = opened ? IndicatorState::Opened : IndicatorState::Closed;
      const std::pair<int, IndicatorState> paint{relay, state};
      require(std::count(paints.begin(), paints.end(), paint) == 1,
              "each relay is painted once as its bit says",
              "relay " + std::to_string(relay) + " in " + hex_text(first));
      model_.states[relay - 1] = state;
    }
    model_.watchdog_ticks_left = PollCycle::watchdog_ticks;
  }

  void click(std::int16_t index, bool on_label) {
    if (on_label) {
      rig_.poll.state_caption_clicked(index);
    } else {
      rig_.poll.relay_clicked(index);
    }
    require(rig_.port.writes.empty() && rig_.indicators.paints.empty(),
            "a click only queues a command", "relay " + std::to_string(index));
    if (index < 1 || index > relay_count) return;
    const auto relay = static_cast<std::uint8_t>(index);
    switch (model_.states[index - 1]) {
      case IndicatorState::Opened:
        queue({0x11, 0x00, relay});
        break;
      case IndicatorState::Closed:
        queue({0x12, 0x00, relay});
        break;
      default:
        break;  // unknown or idle: the operator's click has nothing to switch
    }
  }

  template <typename Act>
  void operator_acts(Act act, PollCycle::PendingCommand command) {
    act();
    require(rig_.port.writes.empty() && rig_.indicators.paints.empty(),
            "a button only queues a command");
    queue(command);
  }

  void queue(PollCycle::PendingCommand command) {
    model_.pending = true;
    model_.command = command;
  }

  void check_state() {
    const PollCycle& poll = rig_.poll;
    require(poll.has_pending_command() == (model_.pending ? 1 : 0), "the mailbox flag as queued");
    if (model_.pending) {
      const auto& held = poll.pending_command();
      require(held.command == model_.command.command && held.data1 == model_.command.data1 &&
                  held.data2 == model_.command.data2,
              "the mailbox holds the latest command");
    }
    require(
        poll.watchdog_ticks_left() >= 0 && poll.watchdog_ticks_left() <= PollCycle::watchdog_ticks,
        "the watchdog stays within 0..5", std::to_string(poll.watchdog_ticks_left()));
    require(poll.watchdog_ticks_left() == model_.watchdog_ticks_left,
            "the watchdog counts as the model",
            std::to_string(poll.watchdog_ticks_left()) + " vs " +
                std::to_string(model_.watchdog_ticks_left));
    require(rig_.indicators.states == model_.states, "the indicators show what was reported");
  }

  LinkRig rig_;
  Model model_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  Script script;
  script.run(input);
  return 0;
}
