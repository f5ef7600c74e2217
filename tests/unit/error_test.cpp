#include <gtest/gtest.h>

#include <stdexcept>

#include "common/error.h"

namespace trelvex {
namespace {

TEST(ExceptionText, ContextClassNameAndQuotedMessage) {
  EXPECT_EQ(ExceptionText("TEWForm.Go", Exception("TDM.Init.Connect .Auth b\xB3\xB9" "d")),
            "TEWForm.Go Exception \"TDM.Init.Connect .Auth b\xB3\xB9" "d\"");
  EXPECT_EQ(ExceptionText("TEWForm.Go", EDatabaseError("I/O error")),
            "TEWForm.Go EDatabaseError \"I/O error\"");
  EXPECT_EQ(ExceptionText("TEWForm.Go", EOleException("x")), "TEWForm.Go EOleException \"x\"");
  EXPECT_EQ(ExceptionText("TEWForm.Go", std::runtime_error("boom")),
            "TEWForm.Go Exception \"boom\"");
}

TEST(ExceptionText, TrimmedAtBothEnds) {
  EXPECT_EQ(ExceptionText("", Exception("m")), "Exception \"m\"");
  EXPECT_EQ(ExceptionText(" \tctx", Exception("")), "ctx Exception \"\"");
}

TEST(ExceptionMessage, OwnAndForeignExceptions) {
  EXPECT_EQ(ExceptionMessage(EDatabaseError("db")), "db");
  EXPECT_EQ(ExceptionMessage(std::logic_error("logic")), "logic");
}

}  // namespace
}  // namespace trelvex
