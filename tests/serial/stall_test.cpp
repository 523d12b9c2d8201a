// The link under a panel that stalls (a busy machine, a window being moved, a slow
// disk) while the board's answers are on their way: the poll must go on afterwards,
// whatever the board's timing.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <random>
#include <vector>

#include "panel_link.h"

namespace {

// The load under test, not a wait: the panel's event loop held up as a busy desktop, a
// window being moved or a slow disk holds it, while the boards' answers keep coming. It
// spins on the clock, as a panel busy with other work would, rather than sleeping.
void stall_the_panel(std::chrono::milliseconds stall) {
  const auto until = std::chrono::steady_clock::now() + stall;
  while (std::chrono::steady_clock::now() < until) {
  }
}

struct Board {
  QString mode;
  int delay_ms;
};

// Boards that answer at once, as fast as a real one at 9600 baud, just before and just
// after the next request, two ticks late, and one that floods the line unasked.
const Board boards_under_test[] = {
    {"late", 0}, {"late", 17}, {"late", 45}, {"late", 60}, {"late", 120}, {"flood", 0},
};

TEST(LinkUnderStalls, PollingSurvivesStallsAtEveryPhaseOfTheTickWhateverTheBoardsTiming) {
  start_qt();
  QTemporaryDir dir;
  const std::filesystem::path program_dir = dir.path().toStdString();
  std::vector<std::unique_ptr<BoardProcess>> boards;
  std::vector<std::unique_ptr<PanelLink>> panels;
  for (const auto& board : boards_under_test) {
    const auto port = QString::number(boards.size() + 1);
    boards.push_back(std::make_unique<BoardProcess>(
        QStringList{"--link-dir", dir.path(), "--port", port, "--mode", board.mode, "--delay-ms",
                    QString::number(board.delay_ms)}));
    panels.push_back(std::make_unique<PanelLink>(program_dir, port.toStdString()));
    panels.back()->click_open_comm();
    ASSERT_TRUE(panels.back()->messages.shown.empty())
        << panels.back()->messages.shown.front().text;
  }
  const auto answered_since = [&](const std::vector<int>& before) {
    for (std::size_t i = 0; i < panels.size(); ++i) {
      if (panels[i]->answers <= before[i]) return false;
    }
    return true;
  };
  ASSERT_TRUE(wait_until([&] { return answered_since(std::vector<int>(panels.size(), 0)); }));

  // The stall begins `phase` ms after a tick of the first panel, which puts it at every
  // phase of the others' ticks and of the answers on their way too.
  std::mt19937 random(7);
  bool armed = false;
  int phase_ms = 0;
  std::chrono::milliseconds stall{0};
  std::vector<int> answers_after_stall;
  QObject context;
  QObject::connect(&panels.front()->timer, &PollTimer::timeout, &context, [&] {
    if (!armed) return;
    armed = false;
    QTimer::singleShot(phase_ms, Qt::PreciseTimer, &context, [&] {
      stall_the_panel(stall);
      answers_after_stall.clear();
      for (const auto& panel : panels) answers_after_stall.push_back(panel->answers);
    });
  });

  for (int round = 0; round < 50; ++round) {
    phase_ms = round;
    stall = std::chrono::milliseconds(100 + random() % 201);
    SCOPED_TRACE("stall " + std::to_string(round) + ": " + std::to_string(stall.count()) + " ms, " +
                 std::to_string(phase_ms) + " ms after a tick");
    answers_after_stall.clear();
    armed = true;
    ASSERT_TRUE(wait_until([&] { return !answers_after_stall.empty(); }));
    ASSERT_TRUE(wait_until([&] { return answered_since(answers_after_stall); }))
        << "a panel stopped polling";
  }
  for (std::size_t i = 0; i < panels.size(); ++i) {
    SCOPED_TRACE(boards_under_test[i].mode.toStdString() + " " +
                 std::to_string(boards_under_test[i].delay_ms) + " ms");
    EXPECT_FALSE(panels[i]->port.device_lost());
    EXPECT_TRUE(panels[i]->messages.shown.empty());
  }
}

}  // namespace
