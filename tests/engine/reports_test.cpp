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

#include "daxo_package.h"
#include "daxo_services.h"
#include "engine_test_support.h"

namespace velquor::test {
namespace {

class Reports : public EngineTest {
 protected:
  // Each test runs in a process of its own under ctest; the file is removed
  // first in case the binary runs them all in one.
  Reports()
      : path(::testing::TempDir() + "velquor_reports_" + std::to_string(getpid()) + ".jsonl") {
    std::remove(path.c_str());
  }
  ~Reports() override { std::remove(path.c_str()); }

  std::vector<nlohmann::json> JsonLines() {
    std::vector<nlohmann::json> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }

  std::string path;
};

/// A report as one line: "level code engine|package text".
std::string Line(const ReportRecord& r) {
  return std::to_string(r.level) + " " + std::to_string(r.code) +
         (r.engineFlag ? " engine " : " package ") + r.text;
}

TEST_F(Reports, ReachEverySinkWithLevelCodeAndFlag) {
  auto second = std::make_shared<MemoryReportSink>();
  auto json = std::make_shared<JsonLinesReportSink>(path);
  ASSERT_TRUE(json->IsOpen());
  engine.AddReportSink(second);
  engine.AddReportSink(json);

  kernel()->Report("engine said", 2, 42, true);
  DAXO::ReportWarning("package said", 7);  // this executable's SDK copy
  // Reported, no window; quotes, control characters and a bad byte kept
  // parseable in JSON.
  kernel()->MessageBox("say \"hi\"\nthen\tgo \xff end", 1, 5, true);

  const std::vector<std::string> expected = {"2 42 engine engine said",
                                             "1 7 package External : package said",
                                             "1 5 engine say \"hi\"\nthen\tgo \xff end"};
  for (const auto& sink : {reports, second}) {
    std::vector<std::string> got;
    for (const ReportRecord& r : sink->Reports()) got.push_back(Line(r));
    EXPECT_EQ(got, expected);
  }
  const auto lines = JsonLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], nlohmann::json::parse(R"({"text": "engine said", "level": 2,
      "levelName": "error", "code": 42, "engine": true})"));
  EXPECT_EQ(lines[1]["text"], "External : package said");
  EXPECT_EQ(lines[1]["engine"], false);
  const std::string text = lines[2]["text"];
  EXPECT_EQ(text.rfind("say \"hi\"\nthen\tgo ", 0), 0u);
  EXPECT_NE(text.find(" end"), std::string::npos);
}

TEST_F(Reports, TheSdksReportsCarryTheirPrefixLevelCodeAndFlag) {
  DAXO::ReportWarning("disk almost full", 7);
  DAXO::ReportInfo("hello", 1);
  DAXO::ReportError("broken", 2);
  DAXO::Report("free form", DAXO::ParserEcho, 3);
  int thrown = 0;
  try {
    DAXOPrivate::KernelError("kernel says no", 9);
  } catch (int code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, DAXO::ErrorException);
  std::vector<std::string> got;
  for (const ReportRecord& r : reports->Reports()) got.push_back(Line(r));
  EXPECT_EQ(got, (std::vector<std::string>{
                     "1 7 package External : disk almost full", "0 1 package External : hello",
                     "2 2 package External : broken", "3 3 package External report : free form",
                     "2 9 engine kernel says no"}));
}

// Services with no use here answer their neutral values, each saying so
// once (an echo, not an error).
TEST_F(Reports, ANeutralServiceAnswersNeutrallyAndEchoesOnce) {
  EXPECT_FALSE(DAXO::IsRecording());
  EXPECT_FALSE(DAXO::IsRecording());
  EXPECT_FALSE(DAXO::StartRecording());
  EXPECT_EQ(DAXO::GetKeysState(), DAXO::DefaultKeysState);
  DAXOSynchronizer* synchronizer = reinterpret_cast<DAXOSynchronizer*>(0x1);
  EXPECT_FALSE(DAXO::GetSynchronizer(nullptr, &synchronizer));
  EXPECT_EQ(synchronizer, nullptr);
  const auto said = reports->Reports();
  EXPECT_EQ(said.size(), 4u);
  for (const ReportRecord& r : said) EXPECT_EQ(r.level, Echo) << r.text;
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

}  // namespace
}  // namespace velquor::test
