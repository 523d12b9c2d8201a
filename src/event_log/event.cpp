#include "event_log/event.h"

namespace {
constexpr struct {
  Event::Kind kind;
  const char* text;
} kinds[] = {{Event::Kind::switched, "switched"},
             {Event::Kind::board_lost, "board lost"},
             {Event::Kind::board_back, "board back"},
             {Event::Kind::refused, "refused"},
             {Event::Kind::missed, "missed"}};
}  // namespace

const char* kind_text(Event::Kind kind) {
  for (const auto& entry : kinds)
    if (entry.kind == kind) return entry.text;
  return "?";
}

std::optional<Event::Kind> kind_from_text(const std::string& text) {
  for (const auto& entry : kinds)
    if (text == entry.text) return entry.kind;
  return std::nullopt;
}
