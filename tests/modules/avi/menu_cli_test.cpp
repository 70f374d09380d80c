// A file with a menu section through the exported API, as the zepdemux CLI
// uses it: every title is listed with its streams and duration, and any title
// can be listed and extracted.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tests/support/menu_builder.h"

namespace zeptest {
namespace {

const uint32_t kSeeds[] = {4, 5, 6};
const uint32_t kFrames[] = {3, 8, 5};

std::string cli(const std::string& args, int* status = nullptr) {
  const std::string command = std::string(ZEPDEMUX_CLI) + " " + args;
  if (status != nullptr) *status = run_command(command + " >/dev/null 2>&1");
  return command_output(command + " 2>/dev/null");
}

class MenuCli : public ::testing::Test {
 protected:
  void SetUp() override {
    menu::MenuSpec spec;
    spec.chapters = {1, 1, 1};
    std::vector<Bytes> titles;
    for (size_t t = 0; t < 3; ++t) titles.push_back(menu::tiny_title(kSeeds[t], kFrames[t]));
    path_ = dir_.write("menu.avi", menu::build_menu_file(spec, titles, {}));
  }
  TempDir dir_;
  std::string path_;
};

TEST_F(MenuCli, InfoListsEveryTitleWithItsStreamsAndDuration) {
  const auto info = nlohmann::json::parse(cli("info --json '" + path_ + "'"));
  ASSERT_EQ(info["titles"].size(), 3u);
  for (size_t t = 0; t < 3; ++t) {
    const auto& title = info["titles"][t];
    EXPECT_NEAR(title["duration"].get<double>(), kFrames[t] * 0.1, 1e-6) << t;
    ASSERT_EQ(title["streams"].size(), 2u);
    EXPECT_EQ(title["streams"][0]["type"], "video");
    EXPECT_EQ(title["streams"][1]["type"], "audio");
  }
}

TEST_F(MenuCli, PacketsAndExtractOfEachTitle) {
  for (uint32_t t = 0; t < 3; ++t) {
    SCOPED_TRACE("title " + std::to_string(t));
    const std::string packets =
        cli("packets --json --title " + std::to_string(t) + " '" + path_ + "'");
    size_t lines = 0;
    for (size_t at = packets.find('\n'); at != std::string::npos; at = packets.find('\n', at + 1))
      ++lines;
    EXPECT_EQ(lines, 2u * kFrames[t]);

    const std::string video = dir_.path() + "/v.bin", audio = dir_.path() + "/a.bin";
    int status = -1;
    cli("extract --title " + std::to_string(t) + " '" + path_ + "' 0:'" + video + "' 1:'" + audio +
            "'",
        &status);
    ASSERT_EQ(status, 0);
    Bytes video_expected, audio_expected;
    for (uint32_t f = 0; f < kFrames[t]; ++f) {
      const Bytes v = menu::tiny_video_payload(kSeeds[t], f);
      const Bytes a = menu::tiny_audio_payload(kSeeds[t], f);
      video_expected.insert(video_expected.end(), v.begin(), v.end());
      audio_expected.insert(audio_expected.end(), a.begin(), a.end());
    }
    EXPECT_EQ(read_file(video), video_expected);
    EXPECT_EQ(read_file(audio), audio_expected);
  }
  int status = 0;
  cli("packets --title 3 '" + path_ + "'", &status);
  EXPECT_NE(status, 0);
}

}  // namespace
}  // namespace zeptest
