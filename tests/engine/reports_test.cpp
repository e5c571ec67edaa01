// Reports through the kernel: every attached sink receives text, level, code
// and engine flag; JSON lines parse back; reports from several threads all
// arrive; neutral services report once.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine_test_support.h"

namespace velquor::test {
namespace {

class Reports : public EngineTest {
 protected:
  Reports() : path("/tmp/velquor_reports_" + std::to_string(getpid()) + "_" + Name() + ".jsonl") {
    std::remove(path.c_str());
  }
  ~Reports() override { std::remove(path.c_str()); }

  static std::string Name() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  std::vector<nlohmann::json> JsonLines() {
    std::vector<nlohmann::json> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }

  std::string path;
};

TEST_F(Reports, ReachEverySinkWithLevelCodeAndFlag) {
  auto second = std::make_shared<MemoryReportSink>();
  auto json = std::make_shared<JsonLinesReportSink>(path);
  ASSERT_TRUE(json->IsOpen());
  engine.AddReportSink(second);
  engine.AddReportSink(json);

  kernel()->Report("engine said", 2, 42, true);
  DAXO::ReportWarning("package said", 7);  // this executable's SDK copy

  for (const auto& sink : {reports, second}) {
    const auto got = sink->Reports();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].text, "engine said");
    EXPECT_EQ(got[0].level, 2);
    EXPECT_EQ(got[0].code, 42);
    EXPECT_TRUE(got[0].engineFlag);
    EXPECT_EQ(got[1].text, "External : package said");
    EXPECT_EQ(got[1].level, 1);
    EXPECT_EQ(got[1].code, 7);
    EXPECT_FALSE(got[1].engineFlag);
  }
  const auto lines = JsonLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["text"], "engine said");
  EXPECT_EQ(lines[0]["level"], 2);
  EXPECT_EQ(lines[0]["levelName"], "error");
  EXPECT_EQ(lines[0]["code"], 42);
  EXPECT_EQ(lines[0]["engine"], true);
  EXPECT_EQ(lines[1]["text"], "External : package said");
  EXPECT_EQ(lines[1]["engine"], false);
}

TEST_F(Reports, JsonLinesKeepQuotesNewlinesAndBadBytesParseable) {
  auto json = std::make_shared<JsonLinesReportSink>(path);
  engine.AddReportSink(json);
  kernel()->Report("say \"hi\"\nthen\tgo \xff end", 0, 0, false);
  const auto lines = JsonLines();
  ASSERT_EQ(lines.size(), 1u);
  const std::string text = lines[0]["text"];
  EXPECT_EQ(text.rfind("say \"hi\"\nthen\tgo ", 0), 0u);
  EXPECT_NE(text.find(" end"), std::string::npos);
}

TEST_F(Reports, FromManyThreadsAllArrive) {
  constexpr int kThreads = 4;
  constexpr int kEach = 250;
  auto json = std::make_shared<JsonLinesReportSink>(path);
  engine.AddReportSink(json);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        kernel()->Report(("r " + std::to_string(t) + " " + std::to_string(i)).c_str(), 0, t, false);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<std::string> texts;
  for (const auto& report : reports->Reports()) texts.insert(report.text);
  EXPECT_EQ(texts.size(), static_cast<std::size_t>(kThreads * kEach));
  const auto lines = JsonLines();
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kEach));
}

TEST_F(Reports, WaitForFindsAReportMadeByAnotherThread) {
  std::thread reporter([&] { kernel()->Report("late", 1, 3, false); });
  EXPECT_TRUE(
      reports->WaitFor([](const ReportRecord& r) { return r.text == "late" && r.code == 3; },
                       std::chrono::seconds(10)));
  reporter.join();
  EXPECT_FALSE(reports->WaitFor([](const ReportRecord& r) { return r.text == "never"; },
                                std::chrono::milliseconds(20)));
}

TEST_F(Reports, StderrShowsTheLevelAsAWordWithoutColourWhenAsked) {
  StderrReportSink sink(0);
  ::testing::internal::CaptureStderr();
  sink.Deliver(ReportRecord{"disk full", 1, 9, false});
  sink.Deliver(ReportRecord{"bad", 2, 0, true});
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "warning: disk full (code 9)\nerror: bad\n");
}

TEST_F(Reports, MessageBoxIsReportedWithoutAWindow) {
  kernel()->MessageBox("look here", 1, 5, true);
  const auto got = reports->Reports();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text, "look here");
  EXPECT_EQ(got[0].level, 1);
  EXPECT_EQ(got[0].code, 5);
}

TEST_F(Reports, ANeutralServiceAnswersNeutrallyAndReportsOnce) {
  EXPECT_FALSE(kernel()->IsRecording());
  EXPECT_FALSE(kernel()->IsRecording());
  EXPECT_EQ(kernel()->GetKeysState(), 0x600);
  DAXOSynchronizer* synchronizer = reinterpret_cast<DAXOSynchronizer*>(0x1);
  EXPECT_FALSE(kernel()->GetSynchronizer(nullptr, &synchronizer));
  EXPECT_EQ(synchronizer, nullptr);
  int recording = 0;
  for (const auto& report : reports->Reports()) {
    EXPECT_EQ(report.level, 3);
    if (report.text.find("IsRecording") != std::string::npos) ++recording;
  }
  EXPECT_EQ(recording, 1);
  EXPECT_EQ(reports->Reports().size(), 3u);
}

}  // namespace
}  // namespace velquor::test
