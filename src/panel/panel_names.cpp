#include "panel/panel_names.h"

#include "common/text_number.h"

namespace {
constexpr std::string_view rename_caption = "Rename";
}  // namespace

void PanelNames::set_line_names(LineNames* line) {
  if (line_) line_->set_names_handler({});
  line_ = line;
  if (line_) line_->set_names_handler([this] { show_owners_names(); });
}

void PanelNames::load(const std::string& address_text) {
  address_text_ = address_text;
  if (owners_names()) {
    show_owners_names();
    return;
  }
  file_.load_names(address_text);
}

void PanelNames::file_changed(const std::optional<std::string>& address_text) {
  if (owners_names()) return;
  file_.reload(address_text);
}

std::optional<std::uint8_t> PanelNames::address() const {
  const auto address = text_to_int16(address_text_);
  if (!address || *address < 0 || *address > 255) return std::nullopt;
  return static_cast<std::uint8_t>(*address);
}

// The owner's names replace the file's as they arrive; once the line closes, the file's
// come back.
void PanelNames::show_owners_names() {
  if (!owners_names()) {
    if (!showing_owners_) return;
    showing_owners_ = false;
    file_.load_title();
    file_.load_names(address_text_);
    return;
  }
  showing_owners_ = true;
  const auto board = address();
  if (!board) return;
  const auto names = line_->board_names(*board);
  if (!names) return;
  view_.set_window_caption(names->title);
  for (int relay = 1; relay <= relay_count; ++relay) {
    view_.set_name_label(relay, names->relays[static_cast<std::size_t>(relay - 1)]);
  }
}

StoredName PanelNames::stored_name() {
  if (!owners_names()) return rename_.stored_name();
  const auto address = text_to_int16(rename_.address_text);
  const auto relay = text_to_int16(rename_.relay_text);
  if (!address || !relay || *address < 0 || *address > 255 || *relay < 1 || *relay > relay_count) {
    return {};
  }
  const auto names = line_->board_names(static_cast<std::uint8_t>(*address));
  return {names ? names->relays[static_cast<std::size_t>(*relay - 1)] : std::string(), {}};
}

void PanelNames::store(std::string_view text, std::function<void(RenameOutcome)> done) {
  if (!owners_names()) {
    done(rename_.store(text));
    return;
  }
  if (auto refusal = rename_.refused_target()) {
    done(std::move(*refusal));
    return;
  }
  const auto address = text_to_int16(rename_.address_text);
  const auto relay = text_to_int16(rename_.relay_text);
  if (*address < 0 || *address > 255 || *relay < 1 || *relay > relay_count) {
    done(RenameLogic::refused_by_owner("The name was not stored: the line has no relay " +
                                       rename_.relay_text + " at address " + rename_.address_text +
                                       "."));
    return;
  }
  line_->rename(static_cast<std::uint8_t>(*address), *relay, std::string(text),
                [done = std::move(done)](const LineRenameAnswer& answer) {
                  switch (answer.kind) {
                    case LineRenameAnswer::Kind::stored:
                      done({true, std::nullopt, std::nullopt});
                      return;
                    case LineRenameAnswer::Kind::refused:
                      done(RenameLogic::refused_by_owner(answer.reason));
                      return;
                    case LineRenameAnswer::Kind::failed:
                      done({false,
                            Message{"The name was not stored: " + answer.reason + ".",
                                    std::string(rename_caption), MessageIcon::Critical},
                            std::nullopt});
                      return;
                  }
                });
}
