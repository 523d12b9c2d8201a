// The Windows programs of the build (build-win/) under Wine, on a private X server, against
// the virtual board on a pseudo-terminal mapped as COM1.
#include <gtest/gtest.h>

#include "qt_events.h"
#include "wine_session.h"

namespace {

class WindowsSession : public ::testing::Environment {
 public:
  void SetUp() override {
    const WineSession& session = WineSession::get();
    ASSERT_TRUE(session.error.empty())
        << session.error << " (Wine's output: " << (session.prefix / "wine-session.log") << ")";
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  start_qt();
  ::testing::AddGlobalTestEnvironment(new WindowsSession);
  return RUN_ALL_TESTS();
}
