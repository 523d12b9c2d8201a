#include <gtest/gtest.h>
#include <unistd.h>

#include "names/temp_file_names_posix.h"

namespace {

// The start-up clean-up recognises the names that the writer gives its temporary files,
// and no others: a file of the operator's or the backup's own temporaries stay.
TEST(TempFileNames, TheCleanUpKnowsTheWritersNamesAndNoOthers) {
  const auto temp = temp_file_names::beside("/folder/name.txt", 3);
  EXPECT_EQ(temp.parent_path(), "/folder");
  EXPECT_EQ(temp_file_names::owner(temp.filename().native(), "name.txt"), ::getpid());
  EXPECT_EQ(temp_file_names::owner(".name.txt.12.0.tmp", "name.txt"), 12);
  for (const char* other : {"name.txt", ".name.txt.tmp", ".name.txt.12.tmp", ".name.txt.012.1.tmp",
                            ".name.txt.12.01.tmp", ".name.txt.0.1.tmp", ".other.txt.12.1.tmp",
                            ".name.txt.12.1.tmpx", ".name.txt.bak.12.1.tmp"}) {
    EXPECT_FALSE(temp_file_names::owner(other, "name.txt")) << other;
  }
}

}  // namespace
