#include "common/address_list.h"

#include <gtest/gtest.h>

namespace {

using Addresses = std::vector<std::uint8_t>;

TEST(AddressList, ReadsAddressesAndRangesSortedAndOnce) {
  const struct {
    const char* text;
    Addresses addresses;
    const char* shown;  // written back
  } cases[] = {
      {"1", {1}, "1"},
      {"1,3,5-7", {1, 3, 5, 6, 7}, "1,3,5-7"},
      {" 7 , 5-6,1 ,3", {1, 3, 5, 6, 7}, "1,3,5-7"},
      {"3,3,2-4,3", {2, 3, 4}, "2-4"},
      {"0,255", {0, 255}, "0,255"},
      {"254-255,0-1", {0, 1, 254, 255}, "0,1,254,255"},
      {"007", {7}, "7"},
      {"9-9", {9}, "9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = parse_address_list(c.text);
    ASSERT_TRUE(std::holds_alternative<Addresses>(parsed)) << std::get<std::string>(parsed);
    EXPECT_EQ(std::get<Addresses>(parsed), c.addresses);
    EXPECT_EQ(address_list_text(c.addresses), c.shown);
  }
  const auto all = std::get<Addresses>(parse_address_list("0-255"));
  EXPECT_EQ(all.size(), 256u);
  EXPECT_EQ(address_list_text(all), "0-255");
}

TEST(AddressList, SaysWhatIsWrongWithTheText) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "no board address given (e.g. 1,3,5-7)"},
      {" ", "no board address given (e.g. 1,3,5-7)"},
      {"1,,3", "an empty item in the address list \"1,,3\""},
      {"1, ", "an empty item in the address list \"1,\""},
      {"256", "\"256\": board addresses are 0 to 255"},
      {"250-300", "\"250-300\": board addresses are 0 to 255"},
      {"7-5", "\"7-5\" is a range from high to low"},
      {"-3", "\"-3\" is not a board address or a range of them (e.g. 1,3,5-7)"},
      {"1-", "\"1-\" is not a board address or a range of them (e.g. 1,3,5-7)"},
      {"1-2-3", "\"1-2-3\" is not a board address or a range of them (e.g. 1,3,5-7)"},
      {"2.5", "\"2.5\" is not a board address or a range of them (e.g. 1,3,5-7)"},
      {"0x10", "\"0x10\" is not a board address or a range of them (e.g. 1,3,5-7)"},
      {"1;3", "\"1;3\" is not a board address or a range of them (e.g. 1,3,5-7)"},
      {"99999999999", "\"99999999999\" is not a board address or a range of them (e.g. 1,3,5-7)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = parse_address_list(c.text);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_EQ(std::get<std::string>(parsed), c.error);
  }
}

}  // namespace
