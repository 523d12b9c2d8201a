#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What became of a command, as its sender reads it on the board's result topic.
enum class CommandOutcome {
  done,      // the board reports the relays as commanded
  refused,   // the bridge would not take it (payload, relay, board, retain flag)
  not_sent,  // it could not go on the wire: the line not open or lost, the board silent
  not_done,  // taken, but the board never confirmed it (lost, replaced, other state)
};

// Where a command's answer goes: the board's result topic and, when the sender set one
// (MQTT 5), its response topic with its correlation data.
struct CommandReply {
  std::string command;  // the command's topic
  std::string payload;
  std::string response_topic;
  std::string correlation_data;
};

// The answer as one JSON object: {"command":...,"payload":...,"result":...} and a
// "reason" for every result but done.
std::string command_result_json(const CommandReply& reply, CommandOutcome outcome,
                                const std::string& reason = {});

// The commands taken onto the line whose board has not yet confirmed them, per board.
// A command is done at the first answer that shows its relays as commanded; not done
// once nothing more for its relays is on its way and the board shows them otherwise,
// once a later command takes its relays, or when its board or line is lost. What waits
// is bounded by the relays: at most one command per relay.
class PendingCommands {
 public:
  struct Settled {
    std::uint8_t address = 0;
    CommandReply reply;
    CommandOutcome outcome = CommandOutcome::done;
    std::string reason;
  };
  // Whether relay r of a board is opened once what is on its way is done (nothing when
  // unknown): a command is not judged on an answer that came before its frame.
  using Commanded = std::function<std::optional<bool>(int relay)>;

  // A command for `relays` (bit r-1 for relay r) that leaves them as `opened`; returns
  // the earlier ones it replaces.
  std::vector<Settled> add(std::uint8_t address, std::uint16_t relays, std::uint16_t opened,
                           CommandReply reply);
  std::vector<Settled> answered(std::uint8_t address, std::uint16_t opened,
                                const Commanded& commanded);
  // Every command waiting for `address` (all boards when nothing), as not done.
  std::vector<Settled> drop(std::optional<std::uint8_t> address, const std::string& reason);

 private:
  struct Pending {
    std::uint16_t relays = 0;
    std::uint16_t opened = 0;
    CommandReply reply;
  };
  std::map<std::uint8_t, std::vector<Pending>> boards_;
};
