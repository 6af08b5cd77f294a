#include "reporting/TrackRecord.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

class TrackRecordTest : public ::testing::Test {
 protected:
  TrackRecord& t = TrackRecord::Instance();
  void SetUp() override { t.ResetForTesting(); }
};

TEST_F(TrackRecordTest, FieldsAreOrderedNarrowTexts) {
  SetTrackText("zeta", L"中文");
  SetTrackInt("alpha", -3);
  SetTrackInt64("mid", 1LL << 40);
  SetTrackText("alpha", L"again");
  const auto fields = t.Fields();
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields.begin()->first, "alpha");
  EXPECT_EQ(fields.at("alpha"), "again");
  EXPECT_EQ(fields.at("mid"), "1099511627776");
  EXPECT_EQ(fields.at("zeta"), "中文");
}

TEST_F(TrackRecordTest, PageEvents) {
  struct Case {
    std::string in;
    const char* stored;  // nullptr: dropped
  } cases[] = {
      {R"({"pid":"btn_ok","event":"click","time":"1700000000","data":"x"})", R"({"btn_ok":"click,1700000000,x"})"},
      {R"({"pid":"a","event":"show","time":"","data":""})", R"({"a":"show,,"})"},
      {R"({"pid":"a","time":"1","data":"x"})", nullptr},
      {R"({"pid":"a","event":"e","time":"1"})", nullptr},
      {"", nullptr},
      {R"({"pid":"a","event":"e","time":"1","data":")" + std::string(300, 'd') + "\"}", nullptr},
  };
  for (const Case& c : cases) {
    t.ResetForTesting();
    t.AddPageEvent(c.in);
    const auto events = t.PageEvents();
    if (c.stored) {
      ASSERT_EQ(events.size(), 1u) << c.in;
      EXPECT_EQ(events[0], c.stored);
    } else {
      EXPECT_TRUE(events.empty()) << c.in;
    }
  }
}

TEST_F(TrackRecordTest, PageEventsStopAtOneHundred) {
  for (int i = 0; i < 150; ++i) t.AddPageEvent(R"({"pid":"a","event":"e","time":"1","data":"d"})");
  EXPECT_EQ(t.PageEvents().size(), 100u);
}

TEST_F(TrackRecordTest, StepNotesAreDistinct) {
  t.AddStepNote("step", "prepare", true);
  t.AddStepNote("step", "prepare", true);
  t.AddStepNote("count", "3", false);
  EXPECT_EQ(t.StepNotes(), (std::vector<std::string>{R"({"step":"prepare"})", R"({"count":3})"}));
}

TEST_F(TrackRecordTest, JoinStopsAfterTheItemThatCrossesTheLimit) {
  const std::vector<std::string> items(30, std::string(99, 'x'));
  const std::string joined = TrackRecord::JoinLimited(items);
  // 20 items of 99 plus 19 commas = 1999, the 21st crosses 2000 and stays, then it stops.
  EXPECT_EQ(joined.size(), 21u * 99 + 20);
  EXPECT_EQ(TrackRecord::JoinLimited({}), "");
  EXPECT_EQ(TrackRecord::JoinLimited({"a", "b"}), "a,b");
}

TEST_F(TrackRecordTest, CountsAndBoundTasksFromManyThreads) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([this] {
      for (int k = 0; k < 500; ++k) {
        t.CountCdnAddress("127.0.0.1");
        t.CountCdnUrl("http://cdn/a");
        t.SetBoundDownFail(10819, k);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(t.CdnAddresses().at("127.0.0.1"), 2000);
  EXPECT_EQ(t.CdnUrls().at("http://cdn/a"), 2000);
  EXPECT_EQ(t.BoundTasks().at(10819).downFailCode, 499);
}

}  // namespace
