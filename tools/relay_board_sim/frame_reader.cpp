#include "frame_reader.h"

#include <algorithm>

void FrameReader::feed(std::span<const std::uint8_t> bytes) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

std::optional<CommandFrame> FrameReader::next() {
  auto start = pending_.begin();
  while (true) {
    const auto header = std::find(start, pending_.end(), CommandFrame::header);
    skipped_ += static_cast<std::size_t>(header - start);
    start = header;
    if (pending_.end() - start < static_cast<std::ptrdiff_t>(frame_size)) break;

    CommandFrame frame;
    std::copy_n(start, frame_size, frame.bytes.begin());
    if (frame.checksum() == frame_checksum(frame.bytes)) {
      pending_.erase(pending_.begin(), start + frame_size);
      return frame;
    }
    ++skipped_;
    ++start;
  }
  pending_.erase(pending_.begin(), start);
  return std::nullopt;
}
