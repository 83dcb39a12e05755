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

// A status box holds reception: the keep-alive's reply waits in the port. Such
// a period says nothing about the sensor, and the link is not re-read either.
TEST(LinkWatch, PeriodHeldByTheToolIsNeitherSilenceNorReturn) {
  LinkWatch watch;
  watch.Tick(true);
  EXPECT_EQ(watch.Tick(true), LinkWatchAction::RequeryIdentity);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(watch.Tick(false, true), LinkWatchAction::None);
  EXPECT_TRUE(watch.IdentityRequeried());
  EXPECT_EQ(watch.Tick(true, true), LinkWatchAction::None);
  EXPECT_EQ(watch.Tick(false), LinkWatchAction::ReportSilent);  // held no more: silence counts again
}

}  // namespace
}  // namespace varnel
