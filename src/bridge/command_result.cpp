#include "bridge/command_result.h"

#include <algorithm>

#include "text/json_text.h"

namespace {

const char* outcome_text(CommandOutcome outcome) {
  switch (outcome) {
    case CommandOutcome::done:
      return "done";
    case CommandOutcome::refused:
      return "refused";
    case CommandOutcome::not_sent:
      return "not sent";
    case CommandOutcome::not_done:
      break;
  }
  return "not done";
}

std::string relay_list(std::uint16_t relays, std::uint16_t opened) {
  std::string text;
  for (int relay = 1; relay <= 16; ++relay) {
    const auto bit = static_cast<std::uint16_t>(1u << (relay - 1));
    if ((relays & bit) == 0) continue;
    text += (text.empty() ? "relay " : ", ") + std::to_string(relay) +
            ((opened & bit) ? " ON" : " OFF");
  }
  return text;
}

}  // namespace

std::string command_result_json(const CommandReply& reply, CommandOutcome outcome,
                                const std::string& reason) {
  Json json = {
      {"command", reply.command}, {"payload", reply.payload}, {"result", outcome_text(outcome)}};
  if (outcome != CommandOutcome::done) json["reason"] = reason;
  return json_text(json);
}

std::vector<PendingCommands::Settled> PendingCommands::add(std::uint8_t address,
                                                           std::uint16_t relays,
                                                           std::uint16_t opened,
                                                           CommandReply reply) {
  std::vector<Settled> replaced;
  auto& pending = boards_[address];
  std::erase_if(pending, [&](Pending& earlier) {
    if ((earlier.relays & relays) == 0) return false;
    replaced.push_back({address, std::move(earlier.reply), CommandOutcome::not_done,
                        "a later command took its relays first"});
    return true;
  });
  pending.push_back({relays, static_cast<std::uint16_t>(opened & relays), std::move(reply)});
  return replaced;
}

std::vector<PendingCommands::Settled> PendingCommands::answered(std::uint8_t address,
                                                                std::uint16_t opened,
                                                                const Commanded& commanded) {
  std::vector<Settled> settled;
  const auto found = boards_.find(address);
  if (found == boards_.end()) return settled;
  std::erase_if(found->second, [&](Pending& pending) {
    const auto shown = static_cast<std::uint16_t>(opened & pending.relays);
    if (shown == pending.opened) {
      settled.push_back({address, std::move(pending.reply), CommandOutcome::done, {}});
      return true;
    }
    for (int relay = 1; relay <= 16; ++relay) {
      const auto bit = static_cast<std::uint16_t>(1u << (relay - 1));
      if ((pending.relays & bit) == 0) continue;
      const auto on_its_way = commanded(relay);
      if (!on_its_way || *on_its_way != ((opened & bit) != 0)) return false;
    }
    settled.push_back(
        {address, std::move(pending.reply), CommandOutcome::not_done,
         "board " + std::to_string(address) + " reports " + relay_list(pending.relays, opened)});
    return true;
  });
  return settled;
}

std::vector<PendingCommands::Settled> PendingCommands::drop(std::optional<std::uint8_t> address,
                                                            const std::string& reason) {
  std::vector<Settled> dropped;
  for (auto& [board, pending] : boards_) {
    if (address && board != *address) continue;
    for (Pending& p : pending) {
      dropped.push_back({board, std::move(p.reply), CommandOutcome::not_done, reason});
    }
    pending.clear();
  }
  return dropped;
}
