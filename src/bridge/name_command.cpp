#include "bridge/name_command.h"

#include "common/text_number.h"
#include "names/rename_logic.h"
#include "text/json_text.h"
#include "text/utf8.h"

std::string board_names_json(std::string_view title,
                             const std::array<std::string, relay_count>& names) {
  return json_text({{"title", title}, {"names", names}});
}

RenameAnswer rename_relay(const std::filesystem::path& name_file, ProfileStore& store,
                          std::uint8_t address, int relay, std::string_view name) {
  // Without a name file the bridge publishes the default names; its log said why at start.
  if (name_file.empty()) {
    return {CommandOutcome::refused, "The name was not stored: the bridge has no name file.", {}};
  }
  // Bytes of another encoding would reach the file as U+FFFD, not as the sender wrote them.
  if (!is_valid_utf8(name)) {
    return {CommandOutcome::refused, "The name was not stored: it is not UTF-8 text.", {}};
  }
  RenameLogic logic(name_file, store);
  logic.address_text = number_to_text(address);
  logic.relay_text = std::to_string(relay);
  const RenameOutcome outcome = logic.store(name);
  if (outcome.stored) return {};
  if (outcome.refusal) return {CommandOutcome::refused, *outcome.refusal, {}};
  return {CommandOutcome::not_done,
          outcome.error ? outcome.error->text : "the name file refused the text",
          {}};
}
