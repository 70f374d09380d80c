// A file with a menu section through the zepdemux CLI: info lists every title
// with its streams and duration; every title can be listed and extracted.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "tests/support/menu_builder.h"

namespace zeptest {
namespace {

std::string cli(const std::string& args, int* status = nullptr) {
  const std::string command = std::string(ZEPDEMUX_CLI) + " " + args;
  if (status != nullptr) *status = run_command(command + " >/dev/null 2>&1");
  return command_output(command + " 2>/dev/null");
}

TEST(MenuCli, InfoPacketsAndExtractOfEachTitle) {
  const uint32_t seeds[] = {4, 5, 6}, frames[] = {3, 8, 5};
  TempDir dir;
  std::vector<Bytes> titles;
  for (size_t t = 0; t < 3; ++t) titles.push_back(menu::tiny_title(seeds[t], frames[t]));
  const std::string path =
      dir.write("menu.avi", menu::build_menu_file({.chapters = {1, 1, 1}}, titles, {}));
  const auto info = nlohmann::json::parse(cli("info --json '" + path + "'"));
  ASSERT_EQ(info["titles"].size(), 3u);
  for (uint32_t t = 0; t < 3; ++t) {
    SCOPED_TRACE("title " + std::to_string(t));
    const auto& title = info["titles"][t];
    EXPECT_NEAR(title["duration"].get<double>(), frames[t] * 0.1, 1e-6);
    ASSERT_EQ(title["streams"].size(), 2u);
    EXPECT_EQ(title["streams"][0]["type"], "video");
    EXPECT_EQ(title["streams"][1]["type"], "audio");
    const std::string packets =
        cli("packets --json --title " + std::to_string(t) + " '" + path + "'");
    EXPECT_EQ(std::count(packets.begin(), packets.end(), '\n'), 2 * frames[t]);
    const std::string video = dir.path() + "/v.bin", audio = dir.path() + "/a.bin";
    int status = -1;
    cli("extract --title " + std::to_string(t) + " '" + path + "' 0:'" + video + "' 1:'" + audio +
            "'",
        &status);
    ASSERT_EQ(status, 0);
    Bytes video_expected, audio_expected;
    for (uint32_t f = 0; f < frames[t]; ++f) {
      const Bytes v = menu::tiny_video_payload(seeds[t], f),
                  a = menu::tiny_audio_payload(seeds[t], f);
      video_expected.insert(video_expected.end(), v.begin(), v.end());
      audio_expected.insert(audio_expected.end(), a.begin(), a.end());
    }
    EXPECT_EQ(read_file(video), video_expected);
    EXPECT_EQ(read_file(audio), audio_expected);
  }
  int status = 0;
  cli("packets --title 3 '" + path + "'", &status);
  EXPECT_NE(status, 0);
}

}  // namespace
}  // namespace zeptest
