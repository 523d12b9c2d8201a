#include "panel_core/panel_core.h"

PanelCore::PanelCore(const PanelHost& host, std::filesystem::path name_file)
    : port_(host.port),
      indicators_(host.indicators),
      poll_(host.port, *this, host.address, *this),
      port_control_(host.port, *this, host.view, host.messages),
      name_file_(std::move(name_file), profile_store_, host.messages, host.names),
      rename_(name_file_.path(), profile_store_),
      names_(name_file_, rename_, host.names) {
  // Every host starts with the relays unknown, as the window shows them at creation.
  shown_.fill(IndicatorState::Unknown);
  port_.set_receive_handler([this] { on_receive(comm_event_receive); });
}

PanelCore::~PanelCore() {
  names_.set_line_names(nullptr);
  port_.set_receive_handler({});
  if (port_.is_open()) port_.close();
}

void PanelCore::write(std::span<const std::uint8_t> bytes) {
  port_.write(bytes);
  if (watcher_) watcher_->frame_written(bytes);
}

void PanelCore::paint(int relay, IndicatorState state) {
  shown_.at(static_cast<std::size_t>(relay - 1)) = state;
  // Only a valid status frame paints relays opened or closed.
  if (state == IndicatorState::Opened || state == IndicatorState::Closed) painted_states_ = true;
  indicators_.paint(relay, state);
}

void PanelCore::on_receive(int event_code) {
  painted_states_ = false;
  poll_.on_receive(event_code);
  const bool answered = painted_states_;
  if (answered) ++answers_;
  if (watcher_) watcher_->receive_handled(poll_, answered);
}
