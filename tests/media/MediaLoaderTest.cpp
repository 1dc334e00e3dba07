// The media module's loader: where it looks, what it says when the module
// is not there or will not load, and that the module it loads works.
#include "media/MediaLoader.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace {

std::string ModuleFolder() {
  const char* folder = std::getenv("DRIFTHARBOUR_MEDIA_DIR");
  return folder != nullptr ? folder : "";
}

TEST(MediaLoaderTest, FailureNamesTheModuleAndWhereItLookedAndIsNotRetried) {
  struct Row {
    const char* name;
    std::function<void(const TempDir&)> prepare;  // what the folder holds
    std::string says;
  };
  const Row rows[] = {
      {"empty folder", [](const TempDir&) {}, "not found in "},
      {"not a library",
       [](const TempDir& dir) { WriteFileBytes(dir.Path() / media::kModuleFileName, "not an ELF file"); },
       "would not load"},
      {"another library",  // loads, but has no entry point of ours
       [](const TempDir& dir) {
         Dl_info info{};
         ASSERT_NE(dladdr(reinterpret_cast<void*>(&curl_version), &info), 0);
         std::filesystem::copy_file(info.dli_fname, dir.Path() / media::kModuleFileName);
       },
       "not the program's media module"},
  };
  for (const Row& row : rows) {
    TempDir dir;
    row.prepare(dir);
    MediaLoader loader({dir.Path().string()});
    EXPECT_EQ(loader.Codecs(), nullptr) << row.name;
    const std::string failure = loader.Failure();
    EXPECT_NE(failure.find(media::kModuleFileName), std::string::npos) << row.name << ": " << failure;
    EXPECT_NE(failure.find(row.says), std::string::npos) << row.name << ": " << failure;
    EXPECT_NE(failure.find(dir.Path().string()), std::string::npos) << row.name << ": " << failure;
    EXPECT_FALSE(loader.Loaded()) << row.name;
    // A module put there later is not picked up: every stream gets the same answer.
    WriteFileBytes(dir.Path() / "late", "");
    EXPECT_EQ(loader.Codecs(), nullptr) << row.name;
    try {
      loader.Require();
      ADD_FAILURE() << row.name << ": Require did not throw";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(error.what(), failure) << row.name;
    }
  }
}

TEST(MediaLoaderTest, FirstFolderHoldingTheModuleWins) {
  ASSERT_FALSE(ModuleFolder().empty()) << "DRIFTHARBOUR_MEDIA_DIR names the build's module folder";
  TempDir empty;
  MediaLoader loader({empty.Path().string(), ModuleFolder()});
  EXPECT_FALSE(loader.Loaded());  // nothing happens before the first need
  const media::MediaCodecs* codecs = loader.Codecs();
  ASSERT_NE(codecs, nullptr) << loader.Failure();
  EXPECT_TRUE(loader.Loaded());
  EXPECT_TRUE(loader.Failure().empty());
  EXPECT_EQ(&loader.Require(), codecs);

  // The module's pieces answer through the interface.
  EXPECT_EQ(codecs->Unpack("not a segment", {}).outcome, media::UnpackOutcome::Malformed);
  EXPECT_EQ(codecs->NewFrameSplitter(media::FrameCodec::None), nullptr);
  for (const media::FrameCodec codec : {media::FrameCodec::Mpeg, media::FrameCodec::Aac}) {
    EXPECT_NE(codecs->NewFrameSplitter(codec), nullptr);
    EXPECT_NE(codecs->NewLevelMeter(codec, 3), nullptr);
  }
}

TEST(MediaLoaderTest, StreamsNeedingItAtOnceShareOneLoad) {
  MediaLoader loader({ModuleFolder()});
  std::vector<const media::MediaCodecs*> seen(4, nullptr);
  std::vector<std::thread> workers;
  for (size_t index = 0; index < seen.size(); ++index) {
    workers.emplace_back([&loader, &seen, index] { seen[index] = loader.Codecs(); });
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  ASSERT_NE(seen.front(), nullptr) << loader.Failure();
  for (const media::MediaCodecs* codecs : seen) {
    EXPECT_EQ(codecs, seen.front());
  }
}

}  // namespace
