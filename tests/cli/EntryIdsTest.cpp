// The names entries go by in the lines and the metrics, across reloads.
#include "cli/EntryIds.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cli/RecorderMetrics.h"
#include "cli/SettingsRecorder.h"
#include "support/TempDir.h"

namespace {

TEST(EntryIdsTest, AnIdIsFixedByUrlAndDirectoryAndDuplicatesGetASuffixTheyKeep) {
  // Fixed for good: a dashboard keyed on an id must find it after an upgrade.
  EXPECT_EQ(EntryIds::Of("", ""), EntryIds::Of("", ""));
  EXPECT_EQ(EntryIds::Of("http://a/", "rec").size(), 8u);
  EXPECT_NE(EntryIds::Of("http://a/", "rec"), EntryIds::Of("http://a/", "rec2"));
  EXPECT_NE(EntryIds::Of("ab", "c"), EntryIds::Of("a", "bc"));

  EntryIds ids;
  const std::string base = EntryIds::Of("http://a/", "rec");
  struct Step {
    bool take;  // else release `id`
    std::string id;
  };
  for (const Step& step : {Step{true, base}, Step{true, base + "-2"}, Step{true, base + "-3"},
                           Step{false, base}, Step{true, base},  // the free one again
                           Step{false, base + "-2"}, Step{true, base + "-2"}}) {
    if (step.take) {
      EXPECT_EQ(ids.Take("http://a/", "rec"), step.id);
    } else {
      ids.Release(step.id);
    }
  }
}

// The entry label of every url on the metrics page.
std::map<std::string, std::string> LabelsByUrl(const RecorderMetrics& metrics) {
  std::map<std::string, std::string> labels;
  for (const auto& family : metrics.Collect()) {
    if (family.name != "driftharbour_stream_state") {
      continue;
    }
    for (const auto& metric : family.metric) {
      std::map<std::string, std::string> byName;
      for (const auto& label : metric.label) {
        byName[label.name] = label.value;
      }
      labels[byName["url"]] = byName["entry"];
    }
  }
  return labels;
}

std::string Ini(const std::vector<std::string>& urls, const std::string& directory) {
  std::string text = "[Server]\n";
  for (size_t i = 0; i < urls.size(); ++i) {
    text += "Server_" + std::to_string(i) + "=" + urls[i] + "\nDownload_" + std::to_string(i) + "=" + directory + "\n";
  }
  return text;
}

TEST(EntryIdsTest, AReloadThatRenumbersTheListKeepsEveryLabelAndPrefix) {
  TempDir dir;
  const std::string file = dir.File("Driftharbour.ini");
  const std::string a = "http://127.0.0.1:9/a";
  const std::string b = "http://127.0.0.1:9/b";
  WriteFileBytes(file, Ini({a, b}, dir.File("rec")));
  RecorderMetrics metrics;
  SettingsRecorder recorder;
  recorder.SetMetrics(&metrics);
  std::string error;
  ASSERT_TRUE(recorder.Load(file, error)) << error;
  const auto labels = LabelsByUrl(metrics);
  const auto progress = recorder.ProgressLines();
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels.at(a), EntryIds::Of(a, dir.File("rec")));
  ASSERT_EQ(progress.size(), 2u);

  // A new entry above both, then the first one removed: a is [1], then [2], then [1].
  for (const std::vector<std::string>& list :
       {std::vector<std::string>{"http://127.0.0.1:9/new", a, b}, std::vector<std::string>{b, a}}) {
    WriteFileBytes(file, Ini(list, dir.File("rec")));
    const auto result = recorder.Reload();
    ASSERT_TRUE(result.read);
    const auto after = LabelsByUrl(metrics);
    EXPECT_EQ(after.at(a), labels.at(a));
    EXPECT_EQ(after.at(b), labels.at(b));
    const auto ids = recorder.Ids();
    const auto lines = recorder.ProgressLines();
    ASSERT_EQ(ids.size(), list.size());
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(ids[i], after.at(list[i]));
      EXPECT_EQ(lines[i].rfind("[" + ids[i] + "] ", 0), 0u) << lines[i];
    }
  }
  // One URL twice into one directory: two series, told apart.
  WriteFileBytes(file, Ini({a, a}, dir.File("rec")));
  recorder.Reload();
  EXPECT_EQ(recorder.Ids(), (std::vector<std::string>{labels.at(a), labels.at(a) + "-2"}));
  recorder.StopAll();
}

}  // namespace
