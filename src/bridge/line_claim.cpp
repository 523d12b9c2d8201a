#include "bridge/line_claim.h"

#include "text/json_text.h"
#include "text/shown_text.h"

namespace {

constexpr const char* online = "online";

bool plain_decimal(std::string_view text) {
  return !text.empty() && text.size() <= 3 && (text.size() == 1 || text[0] != '0') &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

// D/<component>/.../config with a level relayboard_L_A (A decimal: a line's name may hold
// '_', an address never does, so north_2's boards are not north's).
bool names_a_board_of(std::string_view topic, const BridgeTopics& topics) {
  const std::string own = "relayboard_" + topics.line() + '_';
  for (std::size_t start = 0; start <= topic.size();) {
    const std::size_t end = std::min(topic.find('/', start), topic.size());
    const std::string_view level = topic.substr(start, end - start);
    if (level.starts_with(own) && plain_decimal(level.substr(own.size()))) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

RetainedSnapshot line_claim_snapshot(const BridgeTopics& topics, const std::string& client_id,
                                     std::vector<std::string> also) {
  also.insert(also.begin(), {topics.bridge_status(), topics.line_client()});
  return RetainedSnapshot(std::move(also), topics.line_client(), client_id);
}

std::optional<std::string> line_claim_refusal(const std::map<std::string, std::string>& retained,
                                              const BridgeTopics& topics,
                                              const std::string& client_id) {
  const auto status = retained.find(topics.bridge_status());
  if (status == retained.end() || status->second != online) return std::nullopt;
  const auto client = retained.find(topics.line_client());
  const std::string line = "line " + topics.line() + " is served by ";
  if (client == retained.end()) return line + "a bridge that does not name its client (online)";
  if (client->second == client_id) return std::nullopt;
  return line + "the client " + '"' + shown_text(client->second) + "\" (online)";
}

RetainedSnapshot line_sweep_snapshot(const BridgeTopics& topics, const std::string& client_id) {
  return RetainedSnapshot(
      {topics.prefix() + '/' + topics.line() + "/#", topics.discovery_prefix() + "/#"},
      topics.line_client(), client_id);
}

std::vector<std::string> line_retained_topics(const std::map<std::string, std::string>& retained,
                                              const BridgeTopics& topics) {
  const std::string root = topics.prefix() + '/' + topics.line() + '/';
  const std::string discovery = topics.discovery_prefix() + '/';
  const std::string availability = json_string(topics.bridge_status());
  std::vector<std::string> found;
  for (const auto& [topic, payload] : retained) {
    const bool ours =
        topic.starts_with(root) ||
        (topic.starts_with(discovery) &&
         (names_a_board_of(std::string_view(topic).substr(discovery.size()), topics) ||
          payload.find(availability) != std::string::npos));
    if (ours) found.push_back(topic);
  }
  return found;
}
