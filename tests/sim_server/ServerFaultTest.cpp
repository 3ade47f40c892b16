#include "sim/server/ServerFault.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace brintel::sim {
namespace {

using ::testing::HasSubstr;

ServerFault Parsed(std::string_view text) {
  const FaultParseResult<ServerFault> parse = ParseServerFault(text);
  EXPECT_TRUE(parse.fault.has_value()) << text << ": " << parse.error;
  return parse.fault.value_or(ServerFault{});
}

TEST(ServerFaultParse, TargetDefaultsToWhatTheFaultCanHit) {
  EXPECT_EQ(Parsed("no-separator").target, FaultTarget::kList);
  EXPECT_EQ(Parsed("empty-key").target, FaultTarget::kList);
  EXPECT_EQ(Parsed("short-body").target, FaultTarget::kPackage);
  EXPECT_EQ(Parsed("other-device").target, FaultTarget::kPackage);
  EXPECT_EQ(Parsed("drop-connection").target, FaultTarget::kBoth);
  EXPECT_EQ(Parsed("package:truncated-body"),
            (ServerFault{ServerFaultKind::kTruncatedBody, FaultTarget::kPackage, {}}));
  EXPECT_EQ(Parsed("list:slow:250"), (ServerFault{ServerFaultKind::kSlow, FaultTarget::kList,
                                                  std::chrono::milliseconds{250}}));
}

TEST(ServerFaultParse, TextOfEveryFaultParsesBack) {
  for (const std::string_view text :
       {"no-separator", "package:no-separator", "empty-key", "long-key", "short-body", "non-hex",
        "other-device", "truncated-body", "list:error-page", "package:slow:0", "both:slow:1500",
        "package:drop-connection"}) {
    const ServerFault fault = Parsed(text);
    EXPECT_EQ(Parsed(FaultText(fault)), fault) << text;
  }
}

TEST(ServerFaultParse, RefusesWithAReason) {
  const auto error = [](std::string_view text) {
    const FaultParseResult<ServerFault> parse = ParseServerFault(text);
    EXPECT_FALSE(parse.fault.has_value()) << text;
    return parse.error;
  };
  EXPECT_THAT(error("explode"), HasSubstr("unknown fault"));
  EXPECT_THAT(error(""), HasSubstr("unknown fault"));
  EXPECT_THAT(error("slow"), HasSubstr("milliseconds"));
  EXPECT_THAT(error("slow:"), HasSubstr("milliseconds"));
  EXPECT_THAT(error("slow:12ms"), HasSubstr("milliseconds"));
  EXPECT_THAT(error("slow:-5"), HasSubstr("milliseconds"));
  EXPECT_THAT(error("package:empty-key"), HasSubstr("list only"));
  EXPECT_THAT(error("list:short-body"), HasSubstr("package only"));
  EXPECT_THAT(error("error-page:3"), HasSubstr("no argument"));
  EXPECT_THAT(error("server:error-page"), HasSubstr("\"server:error-page\""));
}

}  // namespace
}  // namespace brintel::sim
