#include <gtest/gtest.h>

#include "ui/rules/LinkWatch.h"

namespace varnel {
namespace {

TEST(LinkWatch, FirstTickNeverReportsLoss) {
  LinkWatch watch;
  EXPECT_EQ(watch.Tick(false), LinkWatchAction::None);
  EXPECT_FALSE(watch.FirstTick());
  EXPECT_EQ(watch.Tick(false), LinkWatchAction::ReportSilent);
  EXPECT_EQ(watch.Tick(false), LinkWatchAction::ReportSilent);  // again every second
}

TEST(LinkWatch, AnsweringSensorIsRequeriedOnceAfterStartAndAfterEverySilence) {
  LinkWatch watch;
  EXPECT_EQ(watch.Tick(true), LinkWatchAction::None);
  EXPECT_EQ(watch.Tick(true), LinkWatchAction::RequeryIdentity);
  EXPECT_TRUE(watch.IdentityRequeried());
  EXPECT_EQ(watch.Tick(true), LinkWatchAction::None);
  EXPECT_EQ(watch.Tick(false), LinkWatchAction::ReportSilent);
  EXPECT_FALSE(watch.IdentityRequeried());
  EXPECT_EQ(watch.Tick(true), LinkWatchAction::RequeryIdentity);
  EXPECT_EQ(watch.Tick(true), LinkWatchAction::None);
}

}  // namespace
}  // namespace varnel
