#include "bridge/bridge_core.h"

#include <gtest/gtest.h>

#include <map>

#include "event_log/event_text.h"
#include "link_rig.h"
#include "protocol/command_frame.h"
#include "text/json_text.h"
#include "time_zone.h"

namespace {

using namespace std::chrono_literals;
using Clock = BridgeCore::Clock;
using Lines = std::vector<std::string>;

// The broker as the bridge sees it: "topic=payload" for each retained publication
// ("(not retained)" marks any other), the events apart, and the subscriptions.
struct RecordingClient : MqttClient {
  bool publish(const std::string& topic, const std::string& payload, bool retain) override {
    if (!up) return false;
    (topic.ends_with("/event") ? events : published)
        .push_back(topic + '=' + payload + (retain ? "" : " (not retained)"));
    return true;
  }
  void subscribe(const std::string& pattern) override {
    subscribed.push_back(pattern + (published.empty() ? "" : " (after a publication)"));
  }
  bool up = true;
  Lines published;
  Lines events;
  Lines subscribed;
};

Lines take(Lines& lines) {
  return std::exchange(lines, {});
}

// The line as the bridge sees it: each command's frames as hex (those of the first lane
// also in `edges`, a pulse's length in `pulses`), the line's word on what is commanded,
// and a refusal of every command while one is set. The pulses themselves are the line's.
struct TestLine : BoardLine {
  std::optional<SwitchRefusal> command(const SwitchCommand& command, Clock::time_point) override {
    if (refusal) return refusal;
    for (const QueuedSwitch& f : command.frames) {
      frames.push_back(hex_text(CommandFrame::build(f.address, f.command, f.data1, f.data2).bytes));
      if (command.lane == SwitchLane::first) edges.push_back(frames.back());
    }
    if (command.pulse) pulses.push_back(std::to_string(command.pulse->count()) + "ms");
    return std::nullopt;
  }
  std::optional<bool> commanded(std::uint8_t address, int relay) const override {
    const auto found = commanded_as.find({address, relay});
    return found == commanded_as.end() ? std::nullopt : std::optional(found->second);
  }
  void end_pulses(Clock::time_point) override { ++pulses_ended; }
  void set_events(BoardEvents* to) override { events = to; }

  std::optional<SwitchRefusal> refusal;
  Lines frames;
  Lines edges;
  Lines pulses;
  int pulses_ended = 0;
  std::map<std::pair<int, int>, bool> commanded_as;  // by board and relay
  BoardEvents* events = nullptr;
};

// Boards 1 and 3 on line L, prefix p, discovery prefix ha; frames as hex.
struct CoreRig {
  explicit CoreRig(BridgeNames names = {}, bool mqtt5 = true,
                   std::vector<TimetableEntry> schedule = {}, std::vector<std::string> paused = {})
      : core(settings(mqtt5, std::move(schedule), std::move(paused)), client, line, names, log(),
             [this](std::uint8_t address, int relay, std::string_view name) {
               renamed.push_back(std::to_string(address) + '/' + std::to_string(relay) + ' ' +
                                 std::string(name));
               return rename_answer;
             }) {}
  static BridgeSettings settings(bool mqtt5 = true, std::vector<TimetableEntry> schedule = {},
                                 std::vector<std::string> paused = {}) {
    BridgeSettings s{"p", "L", "ha", true, {1, 3}, "0.1.0", false, mqtt5, "bridge-1"};
    s.schedule = std::move(schedule);
    s.schedule_paused = std::move(paused);
    s.schedule_since = utc(2026, 6, 1, 0, 0);  // a Monday
    return s;
  }
  BridgeCore::LogLine log() {
    return [this](const std::string& line) { logs.push_back(line); };
  }
  void send(const std::string& topic, const std::string& payload, bool retained = false) {
    core.message({topic, payload, retained, {}, {}, "mqtt", {}}, now);
  }
  Lines states(std::uint8_t address, std::uint16_t opened) const {
    Lines lines;
    for (int r = 1; r <= 16; ++r) {
      lines.push_back("p/L/" + std::to_string(address) + '/' + std::to_string(r) +
                      "/state=" + ((opened >> (r - 1)) & 1 ? "ON" : "OFF"));
    }
    return lines;
  }

  RecordingClient client;
  TestLine line;
  std::optional<SwitchRefusal>& refusal = line.refusal;
  Lines& frames = line.frames;
  Lines& edges = line.edges;
  std::map<std::pair<int, int>, bool>& commanded = line.commanded_as;
  Lines renamed;               // "address/relay name" for each rename handed to the name file
  RenameAnswer rename_answer;  // the name file's answer to each
  Lines logs;
  Clock::time_point now{};
  BridgeCore core;
};

Lines joined(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(BridgeCore, StatesArePublishedAsTheBoardReportsChanges) {
  CoreRig rig;
  rig.core.board_answered(1, 0x0005);
  EXPECT_EQ(take(rig.client.published), joined({{"p/L/1/status=online"}, rig.states(1, 0x0005)}));
  rig.core.board_answered(1, 0x0005);
  rig.send("p/L/1/2/set", "ON");  // a command alone publishes nothing
  EXPECT_EQ(take(rig.client.published), Lines{});
  rig.core.board_answered(1, 0x8007);
  EXPECT_EQ(take(rig.client.published),
            (Lines{"p/L/1/2/state=ON", "p/L/1/16/state=ON",
                   R"(p/L/1/result={"command":"p/L/1/2/set","payload":"ON","result":"done"})"
                   " (not retained)"}));
  rig.core.board_lost(1);
  rig.core.board_lost(1);
  rig.core.board_lost(3);  // never answered: offline from the start
  EXPECT_EQ(take(rig.client.published), Lines{"p/L/1/status=offline"});
  rig.core.board_answered(1, 0x0007);
  EXPECT_EQ(take(rig.client.published), joined({{"p/L/1/status=online"}, rig.states(1, 0x0007)}));
  rig.core.shutting_down(rig.now);
  EXPECT_EQ(take(rig.client.published),
            (Lines{"p/L/1/status=offline", "p/L/3/status=offline", "p/L/status=offline"}));
  EXPECT_EQ(rig.logs, (Lines{"board 1 online", "board 1 offline", "board 1 online"}));
}

// Each command's frame is seen on the line end to end; here, each refusal's reason, which
// its sender reads too (the JSON writer's escapes are its own test's).
TEST(BridgeCore, ARefusedCommandSendsNothingAndLogsOneLine) {
  const struct {
    std::string topic, payload;
    bool retained;
    std::string log, result;  // no result for a foreign line
  } cases[] = {
      {"p/L/3/4/set", "TOGGLE", false,
       "command ignored on p/L/3/4/set: the state of board 3 relay 4 is not known", "refused"},
      {"p/L/1/all/set", "TOGGLE", false,
       "command ignored on p/L/1/all/set: all relays take ON or OFF", "refused"},
      {"p/L/1/5/set", "ON", true,
       "command ignored on p/L/1/5/set: it was sent retained (send commands without the "
       "retain flag; an empty retained message on the topic removes it from the broker)",
       "refused"},
      {"p/L/1/5/set", "on\n", false,
       "command ignored on p/L/1/5/set: \"on\\u000a\" is not ON, OFF or TOGGLE", "refused"},
      {"p/L/1/5/pulse", "5ms", false,
       "command ignored on p/L/1/5/pulse: \"5ms\" is not a duration from 10ms to 3600s", "refused"},
      {"p/L/2/5/set", "ON", false, "command ignored on p/L/2/5/set: board 2 is not served",
       "refused"},
      {"p/L/1/17/set", "ON", false, "message ignored on p/L/1/17/set: no relay 17", "refused"},
      {"p/L/1/all/name/set", "Pump", false,
       "message ignored on p/L/1/all/name/set: a rename needs one relay", "refused"},
      {"p/L/3/5/pulse", "1s", false,
       "command refused on p/L/3/5/pulse (\"1s\"): board 3 does not answer", "not sent"},
      {"p/L\t/1/5/set", "ON", false,
       "message ignored on p/L\\u0009/1/5/set: not a topic of this line", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.topic + ' ' + c.payload);
    CoreRig rig;
    rig.core.board_answered(1, 0x0004);
    take(rig.client.published);
    take(rig.logs);
    rig.send(c.topic, c.payload, c.retained);
    EXPECT_EQ(rig.frames, Lines{});
    EXPECT_EQ(rig.renamed, Lines{});
    EXPECT_EQ(rig.logs, Lines{c.log});
    const std::string json = R"({"command":")" + c.topic + R"(","payload":)" +
                             json_string(c.payload) + R"(,"result":")" + c.result +
                             R"(","reason":)" + json_string(c.log.substr(c.log.find(": ") + 2));
    Lines published = rig.client.published;
    // What the line would not take is kept, retained, for the home automation.
    if (c.result == "not sent") {
      ASSERT_FALSE(published.empty());
      EXPECT_TRUE(published.front().starts_with("p/L/3/refusal=" + json + R"(,"time":")"))
          << published.front();
      published.erase(published.begin());
    }
    EXPECT_EQ(published, c.result.empty() ? Lines{}
                                          : Lines{"p/L/" + c.topic.substr(4, 1) +
                                                  "/result=" + json + "} (not retained)"});
  }
}

// A pulse is one command of the line, with its length; the line ends it (its own test),
// and ends every pulse at once when the bridge stops.
TEST(BridgeCore, APulseGoesToTheLineWithItsLengthAndEndsAtTheStop) {
  CoreRig rig;
  rig.core.board_answered(1, 0);
  rig.send("p/L/1/2/pulse", "500ms");
  rig.send("p/L/1/5,6/pulse", "2s");
  EXPECT_EQ(rig.frames, (Lines{"55 01 12 00 00 00 02 6A", "55 01 12 00 00 00 05 6D",
                               "55 01 12 00 00 00 06 6E"}));
  EXPECT_EQ(rig.edges, rig.frames);
  EXPECT_EQ(rig.line.pulses, (Lines{"500ms", "2000ms"}));
  EXPECT_EQ(rig.line.events, &rig.core);
  rig.core.shutting_down(rig.now);
  EXPECT_EQ(rig.line.pulses_ended, 1);
}

TEST(BridgeCore, WhatTheLineCannotTakeIsRefusedAtOnce) {
  CoreRig rig;
  rig.core.board_answered(1, 0);
  take(rig.logs);
  rig.refusal = SwitchRefusal::line_not_open();
  rig.send("p/L/1/all/set", "ON");
  rig.send("p/L/1/2/set", "OFF");
  rig.refusal = SwitchRefusal::device_lost();
  rig.send("p/L/1/3/pulse", "1s");
  EXPECT_EQ(rig.frames, Lines{});
  EXPECT_EQ(rig.line.pulses, Lines{});
  EXPECT_EQ(rig.logs,
            (Lines{"command refused on p/L/1/all/set (\"ON\"): the serial line is not open",
                   "command refused on p/L/1/2/set (\"OFF\"): the serial line is not open",
                   "command refused on p/L/1/3/pulse (\"1s\"): the serial line is lost"}));
}

// What the line tells of a pulse's end, in the log: the troubles always, the rest only
// when verbose; and an end that went out is credited to the pulse in the events.
TEST(BridgeCore, APulsesNewsIsLoggedAndItsEndCreditedToThePulse) {
  using News = PulseRunner::Told::News;
  const struct {
    News news;
    std::string why, log;
    bool verbose_only;
    int sends = 1;
    bool first = false;  // the first retry since the board was lost: told, the others not
  } cases[] = {
      {News::ended, "", "board 1 relay 2: pulse ended", true},
      {News::ended_late, "", "board 1 relay 2: pulse ended while the board was away", true},
      {News::sent_again, "",
       "board 1 relay 2: pulse's end not confirmed; sent again until it holds", false, 2, true},
      {News::sent_again, "", "", false, 3, false},
      {News::still_switched, "", "board 1 relay 2: still ON after its pulse's OFF was sent twice",
       false},
      {News::not_ended, "the serial line is lost",
       "board 1 relay 2: pulse not ended: the serial line is lost", false},
      {News::back, "", "", false},
      {News::back, "", "board 1 relay 2: pulse's end held after 4 sends", false, 4},
  };
  for (const auto& c : cases) {
    for (const bool verbose : {false, true}) {
      SCOPED_TRACE(c.log);
      CoreRig rig;
      BridgeSettings settings = CoreRig::settings();
      settings.verbose = verbose;
      BridgeCore core(settings, rig.client, rig.line, {}, rig.log());
      core.pulse_told({{1, 0x0002, false}, c.news, c.why, 0, c.sends, c.first});
      EXPECT_EQ(rig.logs, c.log.empty() || (c.verbose_only && !verbose) ? Lines{} : Lines{c.log});
    }
  }
  CoreRig rig;
  std::vector<Event> logged;
  rig.core.on_event = [&](const Event& e) { logged.push_back(e); };
  rig.core.board_answered(1, 0x0006);
  rig.core.pulse_end_sent({1, 0x0002, false});
  rig.core.board_answered(1, 0x0004);
  rig.core.shutting_down(rig.now);
  rig.core.pulse_end_sent({1, 0x0004, false});
  rig.core.board_answered(1, 0x0000);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].source + '/' + std::to_string(logged[0].relay) + ' ' + logged[0].reason,
            "pulse/2 ");
  EXPECT_EQ(logged[1].source + '/' + std::to_string(logged[1].relay) + ' ' + logged[1].reason,
            "pulse/3 the bridge stopped");
}

// A taken command is answered once its board has spoken; the line's word tells an answer
// from before its frame apart from one after it.
TEST(BridgeCore, ATakenCommandIsAnsweredWhenItsBoardHasSpoken) {
  const auto result = [](const std::string& command, const std::string& rest) {
    return R"(p/L/1/result={"command":"p/L/1/)" + command + R"(","result":")" + rest +
           "} (not retained)";
  };
  for (const bool mqtt5 : {true, false}) {
    CoreRig rig({}, mqtt5);
    rig.core.board_answered(1, 0);
    take(rig.client.published);
    rig.commanded = {{{1, 2}, true}, {{1, 3}, true}, {{1, 4}, false}};
    rig.send("p/L/1/2/set", "ON");
    rig.send("p/L/1/3/pulse", "1s");
    rig.send("p/L/1/4/set", "ON");
    rig.send("p/L/1/4/set", "OFF");
    rig.send("p/L/1/4/set", "");  // the removal of a retained command: no command at all
    rig.core.board_answered(1, 0x0000);
    rig.commanded[{1, 2}] = false;  // through, and the board did not take it
    rig.core.board_answered(1, 0x0004);
    rig.send("p/L/1/5/set", "ON");
    rig.core.board_lost(1);
    // Without MQTT 5 a live retained command cannot be told apart: each is removed once taken.
    const auto removed = [&](const std::string& command) {
      return mqtt5 ? Lines{} : Lines{"p/L/1/" + command + "="};
    };
    const Lines expected = joined({
        removed("2/set"),
        removed("3/pulse"),
        removed("4/set"),
        {result(R"(4/set","payload":"ON)",
                R"(not done","reason":"a later command took its relays first")")},
        removed("4/set"),
        {result(R"(4/set","payload":"OFF)", "done\""), "p/L/1/3/state=ON",
         result(R"(2/set","payload":"ON)", R"(not done","reason":"board 1 reports relay 2 OFF")"),
         result(R"(3/pulse","payload":"1s)", "done\"")},
        removed("5/set"),
        {"p/L/1/status=offline",
         result(R"(5/set","payload":"ON)", R"(not done","reason":"board 1 stopped answering")")},
    });
    EXPECT_EQ(rig.client.published, expected);
  }
}

// The line puts the first lane first and knows what is on its way; here, what goes there.
TEST(BridgeCore, PulseEdgesGoFirstAndAToggleFlipsWhatWasCommanded) {
  CoreRig rig;
  rig.core.board_answered(1, 0);
  rig.commanded[{1, 4}] = true;  // an ON on its way, not yet reported
  rig.send("p/L/1/4/set", "TOGGLE");
  rig.send("p/L/1/2/set", "ON");
  rig.send("p/L/1/3/pulse", "10ms");
  rig.send("p/L/1/5/pulse", "1s");
  EXPECT_EQ(rig.frames, (Lines{"55 01 11 00 00 00 04 6B", "55 01 12 00 00 00 02 6A",
                               "55 01 12 00 00 00 03 6B", "55 01 12 00 00 00 05 6D"}));
  EXPECT_EQ(rig.edges, Lines(rig.frames.begin() + 2, rig.frames.end()));
}

// Clearing itself is seen end to end; here, what must not trigger it.
TEST(BridgeCore, OnlyALeftOverStatusOfAnUnservedBoardClearsTopics) {
  CoreRig rig;
  rig.send("p/L/1/status", "online", true);                 // our own
  rig.send("p/L/9/status", "", true);                       // cleared already
  rig.send("p/L/9/status", "online");                       // live, not left over
  rig.send("ha/device/relayboard_L_9/config", "{}", true);  // not being cleared
  EXPECT_EQ(rig.client.published, Lines{});
  rig.send("p/L/9/status", "offline", true);
  // The states one by one and as one message, the names, the refusal, the status last;
  // its documents as the broker hands them over.
  EXPECT_EQ(rig.client.published.size(), 16u + 1 + 1 + 1 + 1);
  EXPECT_EQ(take(rig.client.published).back(), "p/L/9/status=");
  EXPECT_EQ(rig.client.subscribed,
            (Lines{"ha/device/relayboard_L_9/config", "ha/+/relayboard_L_9/+/config"}));
  rig.send("ha/sensor/relayboard_L_9/schedule4_next/config", "{}", true);
  rig.send("ha/sensor/relayboard_L_9/schedule4_next/config", "", true);  // our clearing
  rig.send("ha/switch/relayboard_L_1/relay1/config", "{}", true);        // served
  EXPECT_EQ(rig.client.published, Lines{"ha/sensor/relayboard_L_9/schedule4_next/config="});
}

// The info is read end to end; here, the states in one message.
TEST(BridgeCore, EachBoardsStatesAreAlsoOneRetainedMessage) {
  BridgeSettings settings = CoreRig::settings();
  settings.json_state = true;
  RecordingClient client;
  TestLine line;
  BridgeCore core(settings, client, line, {}, {});
  core.board_answered(3, 0x8001);
  core.board_answered(3, 0x8003);
  EXPECT_EQ(client.published.size(), 1u + 16 + 1 + 1 + 1);
  EXPECT_EQ(client.published.back(),
            R"(p/L/3/state={"1":"ON","2":"ON","3":"OFF","4":"OFF","5":"OFF","6":"OFF","7":"OFF",)"
            R"("8":"OFF","9":"OFF","10":"OFF","11":"OFF","12":"OFF","13":"OFF","14":"OFF",)"
            R"("15":"OFF","16":"ON"})");
}

TEST(BridgeCore, DiscoveryIsSentAgainWhenHomeAutomationReturnsOrNamesChange) {
  BridgeNames names{"Site", {{1, {"Pump"}}, {3, {"Fan"}}}};
  CoreRig rig(names);
  // Commands are taken before anyone is told the bridge is online.
  rig.core.connected();
  EXPECT_EQ(rig.client.subscribed,
            (Lines{"p/L/+/+/set", "p/L/+/+/pulse", "p/L/+/+/name/set", "p/L/+/status", "ha/status",
                   "p/L/schedule", "p/L/schedule/+/state"}));
  EXPECT_EQ(rig.core.found_patterns(),
            (Lines{"ha/device/relayboard_L_bridge/config", "ha/+/relayboard_L_bridge/+/config",
                   "ha/device/relayboard_L_1/config", "ha/+/relayboard_L_1/+/config",
                   "ha/device/relayboard_L_3/config", "ha/+/relayboard_L_3/+/config"}));
  // The first session: both boards offline before the client id and the picture.
  const Lines first = take(rig.client.published);
  ASSERT_EQ(first.size(), 2u + 1u + 6u + 3u);
  EXPECT_EQ(Lines(first.begin(), first.begin() + 4),
            (Lines{"p/L/1/status=offline", "p/L/3/status=offline", "p/L/client=bridge-1",
                   "p/L/status=online"}));
  rig.core.connected();
  EXPECT_EQ(take(rig.client.published).front(), "p/L/client=bridge-1");
  rig.send("p/L/client", "bridge-1", true);  // our own, read at start
  rig.send("ha/status", "online", true);     // left on the broker: discovery was just sent
  rig.send("ha/status", "offline");
  EXPECT_EQ(rig.client.published.size(), 0u);
  rig.send("ha/status", "online");
  ASSERT_EQ(take(rig.client.published).size(), 3u);
  rig.core.names_changed(names);
  EXPECT_EQ(rig.client.published.size(), 0u);
  names.relays[3][15] = "Lamp <b>";
  rig.core.names_changed(names);
  EXPECT_EQ(take(rig.client.published).size(), 2u);
  names.title = "Yard";
  rig.core.names_changed(names);
  EXPECT_EQ(rig.client.published.size(), 4u);
  EXPECT_EQ(rig.logs, (Lines{"home automation online: discovery sent again",
                             "names changed: discovery sent again for board 3",
                             "names changed: discovery sent again for board 1, 3"}));
}

// The file's side and the answers' words are seen end to end; here, which renames reach
// the file, and what goes out after one.
TEST(BridgeCore, ARenameReachesTheFileEvenForASilentBoardAndNamesGoOutFirst) {
  for (const bool mqtt5 : {true, false}) {
    CoreRig rig({"Site", {{1, {"Pump"}}}}, mqtt5);
    rig.rename_answer = {CommandOutcome::done, "", BridgeNames{"Site", {{1, {"Pump", "Fan"}}}}};
    rig.send("p/L/1/2/name/set", "Fan");  // board 1 never answered
    // The names, the document, the answer; without MQTT 5 the command removed once taken.
    const Lines done = take(rig.client.published);
    ASSERT_EQ(done.size(), mqtt5 ? 3u : 4u);
    EXPECT_TRUE(done[0].starts_with(R"(p/L/1/names={"title":"Site","names":["Pump","Fan","",)"));
    EXPECT_EQ(done.back(), mqtt5 ? done[2] : "p/L/1/2/name/set=");
    // Only MQTT 5 tells a live empty name from the removal of a retained command.
    rig.send("p/L/1/2/name/set", "");
    rig.send("p/L/9/2/name/set", "Fan");
    EXPECT_EQ(rig.renamed, mqtt5 ? (Lines{"1/2 Fan", "1/2 "}) : Lines{"1/2 Fan"});
    // The page's commands never come through the broker: its empty name is a name.
    rig.renamed.clear();
    rig.core.message({"p/L/1/2/name/set", "", false, {}, {}, "web", "ann"}, rig.now);
    EXPECT_EQ(rig.renamed, Lines{"1/2 "});
  }
}

std::vector<TimetableEntry> timetable(std::initializer_list<const char*> lines) {
  std::vector<TimetableEntry> entries;
  for (const char* line : lines)
    entries.push_back(std::get<TimetableEntry>(parse_timetable_entry(line)));
  return entries;
}

std::string frame(std::uint8_t address, BoardCommand command, std::uint8_t d1, std::uint8_t d2) {
  return hex_text(CommandFrame::build(address, command, d1, d2).bytes);
}

// With the broker away, due entries go on the line as commands would (a pulse's edges
// first, with its length); a silent board's run is not kept for later.
TEST(BridgeCore, TheTimetableSwitchesWhileTheBrokerIsAway) {
  const TimeZoneScope zone("Europe/Berlin");
  CoreRig rig({}, true,
              timetable({"at 08:00: 1/3 on", "lights: at 08:00: 3/all off",
                         "at 09:00 mon: 1/5-6 pulse 10m", "at 09:00 mon: 3/2 on"}));
  rig.client.up = false;
  rig.core.board_answered(1, 0x0000);
  // Board 3 has not answered yet: the first runs wait for it, a while.
  EXPECT_EQ(rig.core.run_timetable(utc(2026, 6, 1, 6, 0), rig.now), utc(2026, 6, 1, 6, 0) + 1s);
  EXPECT_EQ(rig.frames, Lines{});
  rig.now += BridgeCore::first_answers;
  EXPECT_EQ(rig.core.run_timetable(utc(2026, 6, 1, 6, 0) + 10s, rig.now), utc(2026, 6, 1, 7, 0));
  rig.core.board_answered(3, 0xFFFF);
  EXPECT_EQ(rig.core.run_timetable(utc(2026, 6, 1, 7, 0), rig.now), utc(2026, 6, 2, 6, 0));
  EXPECT_EQ(rig.line.pulses, Lines{"600000ms"});
  EXPECT_EQ(
      rig.frames,
      (Lines{frame(1, BoardCommand::OpenRelay, 0, 3), frame(1, BoardCommand::OpenRelay, 0, 5),
             frame(1, BoardCommand::OpenRelay, 0, 6), frame(3, BoardCommand::OpenRelay, 0, 2)}));
  EXPECT_EQ(rig.edges.size(), 2u);
  EXPECT_EQ(rig.client.published, Lines{});
  EXPECT_EQ(rig.logs,
            (Lines{"board 1 online", "schedule \"at 08:00: 1/3 on\": board 1 relay 3 on",
                   "schedule \"lights\": board 3 all off: not sent: board 3 does not answer",
                   "board 3 online",
                   "schedule \"at 09:00 mon: 1/5-6 pulse 10m\": board 1 relays 5,6 pulse 600s",
                   "schedule \"at 09:00 mon: 3/2 on\": board 3 relay 2 on"}));
}

TEST(BridgeCore, AnEntryIsPausedAndResumedByItsSwitch) {
  const TimeZoneScope zone("Europe/Berlin");
  CoreRig rig({}, true, timetable({"at 08:00: 1/3 on", "lights: at 08:00: 3/all off"}));
  rig.core.board_answered(1, 0x0000);
  rig.core.board_answered(3, 0x0000);
  rig.core.connected();
  const Lines published = take(rig.client.published);
  EXPECT_NE(std::find(published.begin(), published.end(), "p/L/schedule/2/state=ON"),
            published.end());
  const auto board3 = std::find_if(published.begin(), published.end(), [](const std::string& l) {
    return l.starts_with("ha/device/relayboard_L_3/config=");
  });
  ASSERT_NE(board3, published.end());
  EXPECT_NE(board3->find(R"("command_topic":"p/L/schedule/2/set")"), std::string::npos);
  rig.send("p/L/schedule/3/state", "ON", true);  // an earlier run's third entry
  rig.send("p/L/schedule/2/state", "ON", true);
  rig.send("p/L/schedule/2/set", "OFF");
  rig.send("p/L/schedule/2/set", "ON", true);
  rig.send("p/L/schedule/3/set", "ON");
  rig.send("p/L/schedule/1/set", "PAUSE");
  // The timetable for its readers (relayctl), each entry's next run in UTC.
  const auto listed = [](const char* day, const char* paused) {
    return std::string(R"(p/L/schedule={"entries":[{"name":"at 08:00: 1/3 on","next":"2026-06-)") +
           day + R"(T06:00:00Z","paused":false},{"name":"lights","next":"2026-06-)" + day +
           R"(T06:00:00Z","paused":)" + paused + "}]}";
  };
  EXPECT_EQ(take(rig.client.published),
            (Lines{"p/L/schedule/3/state=", "p/L/schedule/2/state=OFF", listed("01", "true")}));
  rig.core.run_timetable(utc(2026, 6, 1, 6, 0), rig.now);
  // What a restart finds: the pause, and that the runs up to now are settled (those it
  // lived through: it came at 06:00, the leeway of its two clocks before).
  EXPECT_EQ(rig.core.schedule_memory(),
            (ScheduleMemory{utc(2026, 6, 1, 6, 0), {"lights"}, utc(2026, 6, 1, 6, 0) - 2s, {}}));
  CoreRig restarted({}, true, rig.core.timetable().entries(), {"lights"});
  restarted.core.connected();
  const Lines again = take(restarted.client.published);
  EXPECT_NE(std::find(again.begin(), again.end(), "p/L/schedule/2/state=OFF"), again.end());
  rig.send("p/L/schedule/2/set", "ON");
  rig.core.run_timetable(utc(2026, 6, 1, 6, 1), rig.now);
  EXPECT_EQ(rig.frames, Lines{frame(1, BoardCommand::OpenRelay, 0, 3)});
  EXPECT_EQ(take(rig.client.published),
            (Lines{listed("02", "true"), "p/L/schedule/2/state=ON", listed("02", "false")}));
  EXPECT_EQ(rig.logs, (Lines{"board 1 online", "board 3 online",
                             "timetable topic p/L/schedule/3/state cleared: no such entry any more",
                             "schedule \"lights\" paused",
                             "command ignored on p/L/schedule/2/set: it was sent retained",
                             "command ignored on p/L/schedule/3/set: the timetable has no entry 3",
                             "command ignored on p/L/schedule/1/set: \"PAUSE\" is not ON or OFF",
                             "schedule \"lights\": board 3 all off: missed: the run at "
                             "2026-06-01 08:00 +02:00, paused",
                             "schedule \"at 08:00: 1/3 on\": board 1 relay 3 on",
                             "schedule \"lights\" resumed"}));
}

// A run that the rules refuse, one that the clock jumped over and one for a silent board
// are each a line in the log and an event of each relay, credited to the entry.
TEST(BridgeCore, ARunNotMadeIsLoggedAndInTheEventLog) {
  const TimeZoneScope zone("Europe/Berlin");
  CoreRig rig(
      {}, true,
      timetable({"pump: at 08:00: 1/2 on", "at 09:00: 1/5,6 off", "lights: at 10:00: 3/all off"}));
  Lines shown;  // as relayctl log shows them, after the time
  rig.core.on_event = [&](const Event& e) {
    const std::string line = event_line(e);
    shown.push_back(line.substr(line.find(' ') + 1));  // without its time
  };
  rig.core.board_answered(1, 0x0000);
  rig.core.run_timetable(utc(2026, 6, 1, 6, 0), rig.now);  // waits for board 3
  rig.refusal = SwitchRefusal{SwitchRefusal::Why::against_rules, "relay 2 is interlocked"};
  rig.now += BridgeCore::first_answers;
  rig.core.run_timetable(utc(2026, 6, 1, 6, 0) + 10s, rig.now);
  rig.refusal.reset();
  rig.now += 30s;  // the wall clock jumps from 08:00:10 to 10:00:20
  rig.core.run_timetable(utc(2026, 6, 1, 8, 0) + 20s, rig.now);
  const std::string jumped =
      "the run at 2026-06-01 09:00 +02:00, the clock jumped ahead or the machine slept";
  EXPECT_EQ(rig.logs,
            (Lines{"board 1 online",
                   "schedule \"pump\": board 1 relay 2 on: not sent: relay 2 is interlocked",
                   "schedule \"at 09:00: 1/5,6 off\": board 1 relays 5,6 off: missed: " + jumped,
                   "schedule \"lights\": board 3 all off: not sent: board 3 does not answer"}));
  EXPECT_EQ(shown,
            (Lines{"L board 1 relay 2 refused: relay 2 is interlocked (asked by schedule pump)",
                   "L board 1 relay 5 missed: " + jumped + " (for schedule at 09:00: 1/5,6 off)",
                   "L board 1 relay 6 missed: " + jumped + " (for schedule at 09:00: 1/5,6 off)",
                   "L board 3 missed: board 3 does not answer (for schedule lights)"}));
}

}  // namespace

namespace {

// Each event goes out on its board's event topic, not retained, and to the event log,
// credited to whoever asked: an MQTT client by its client_id, a timetable entry, the
// rules, or the board itself.
TEST(BridgeCore, EventsNameWhoSwitchedWhatAndWhatTheRulesRefused) {
  CoreRig rig;
  std::vector<Event> logged;
  rig.core.on_event = [&](const Event& e) { logged.push_back(e); };
  rig.core.board_answered(1, 0x0000);
  rig.core.message({"p/L/1/2/set", "ON", false, {}, {}, "mqtt", "kitchen"}, rig.now);
  rig.core.board_answered(1, 0x0002);
  rig.core.board_answered(1, 0x0003);  // relay 1: nobody here asked
  rig.core.rule_switched(1, 0x0002, "max_on", "on longer than its max_on of 30s");
  // Sent again, told once, and held at last: the rule's change still.
  for (const bool first : {true, false})
    rig.core.rule_sent_again(1, 0x0002, "max_on", "on longer than its max_on of 30s", 2, first);
  rig.core.rule_held(1, 0x0002, "max_on", 3);
  rig.core.board_answered(1, 0x0001);
  rig.refusal = SwitchRefusal{SwitchRefusal::Why::against_rules, "relay 2 is interlocked"};
  rig.core.message({"p/L/1/2/set", "ON", false, {}, {}, "web", "ann"}, rig.now);
  rig.core.board_lost(1);

  Lines shown;
  for (const Event& e : logged) {
    std::string line = std::string(kind_text(e.kind)) + " " + std::to_string(e.address) + "/" +
                       std::to_string(e.relay) + " by " + e.source;
    if (!e.who.empty()) line += " " + e.who;
    if (!e.reason.empty()) line += ": " + e.reason;
    shown.push_back(line);
  }
  EXPECT_EQ(shown,
            (Lines{"switched 1/2 by mqtt kitchen", "switched 1/1 by board",
                   "switched 1/2 by rule max_on: on longer than its max_on of 30s",
                   "refused 1/2 by web ann: relay 2 is interlocked", "board lost 1/0 by board"}));
  EXPECT_EQ(rig.logs,
            (Lines{"board 1 online",
                   "board 1 relay 2: max_on switch-off sent: on longer than its max_on of 30s",
                   "board 1 relay 2: max_on switch-off not confirmed; sent again until it holds",
                   "board 1 relay 2: max_on switch-off held after 3 sends",
                   "command refused on p/L/1/2/set (\"ON\"): relay 2 is interlocked",
                   "board 1 offline"}));
  ASSERT_EQ(rig.client.events.size(), logged.size());
  EXPECT_TRUE(rig.client.events[0].starts_with("p/L/1/event={\"time\":\""));
  EXPECT_TRUE(rig.client.events[0].ends_with(
      R"("event":"switched","line":"L","address":1,"relay":2,"was":"closed","now":"opened",)"
      R"("source":"mqtt","who":"kitchen","reason":""} (not retained))"))
      << rig.client.events[0];
}

}  // namespace
