#include "cli_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>

namespace clitest {

std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

CliResult run_cli(const std::vector<std::string>& args) {
  zeptest::TempDir dir;
  std::string command = shell_quote(ZEPDEMUX_CLI);
  for (const auto& arg : args) command += " " + shell_quote(arg);
  const int status = zeptest::run_command(command + " >" + shell_quote(dir.path() + "/out") +
                                          " 2>" + shell_quote(dir.path() + "/err") + " </dev/null");
  const auto out = zeptest::read_file(dir.path() + "/out"),
             err = zeptest::read_file(dir.path() + "/err");
  return {status, std::string(out.begin(), out.end()), std::string(err.begin(), err.end())};
}

nlohmann::json cli_json(const std::vector<std::string>& args, bool lines) {
  const CliResult result = run_cli(args);
  EXPECT_EQ(result.status, 0) << args[0] << ": " << result.err;
  if (result.status != 0) return nullptr;
  if (!lines) return nlohmann::json::parse(result.out);
  nlohmann::json values = nlohmann::json::array();
  std::istringstream in(result.out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) values.push_back(nlohmann::json::parse(line));
  return values;
}

void expect_json_subset(const nlohmann::json& actual, const nlohmann::json& expected,
                        double tolerance, const std::string& where) {
  if (expected.is_object()) {
    ASSERT_TRUE(actual.is_object()) << where << " is " << actual.dump();
    for (const auto& [key, value] : expected.items()) {
      ASSERT_TRUE(actual.contains(key)) << where << "." << key << " is missing";
      expect_json_subset(actual[key], value, tolerance, where + "." + key);
    }
  } else if (expected.is_array()) {
    ASSERT_TRUE(actual.is_array()) << where << " is " << actual.dump();
    ASSERT_EQ(actual.size(), expected.size()) << where;
    for (size_t i = 0; i < expected.size(); ++i)
      expect_json_subset(actual[i], expected[i], tolerance, where + "[" + std::to_string(i) + "]");
  } else if (expected.is_number_float()) {
    ASSERT_TRUE(actual.is_number()) << where << " is " << actual.dump();
    EXPECT_NEAR(actual.get<double>(), expected.get<double>(), tolerance) << where;
  } else {
    EXPECT_EQ(actual, expected) << where;
  }
}

std::string media_file(const std::string& name, const std::string& ffmpeg_args) {
  // The arguments are part of the name, so a changed recipe makes a new file;
  // written under a private name and renamed, as another test may make it too.
  const std::filesystem::path base(name);
  std::filesystem::create_directories("cli_media");
  const std::string path = "cli_media/" + base.stem().string() + "-" +
                           std::to_string(std::hash<std::string>{}(ffmpeg_args) % 1000000007u) +
                           base.extension().string();
  if (std::filesystem::exists(path)) return path;
  const std::string partial = path + ".part" + std::to_string(getpid()) + base.extension().string();
  if (zeptest::run_command("ffmpeg -nostdin -hide_banner -loglevel error -y " + ffmpeg_args + " " +
                           shell_quote(partial)) != 0) {
    std::filesystem::remove(partial);
    return "";
  }
  std::filesystem::rename(partial, path);
  return path;
}

int decoded_frames(const std::string& path, const std::string& input_format) {
  try {
    return std::stoi(zeptest::command_output(
        "ffprobe -v quiet " + (input_format.empty() ? "" : "-f " + input_format + " ") +
        "-count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
        shell_quote(path)));
  } catch (...) {
    return -1;
  }
}

}  // namespace clitest
