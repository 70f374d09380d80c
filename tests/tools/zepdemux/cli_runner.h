// Runs the built zepdemux binary, makes the media files the CLI tests read
// with ffmpeg once per build folder, and compares the JSON it prints.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tests/support/byte_writer.h"

namespace clitest {

struct CliResult {
  int status = -1;
  std::string out, err;
};

CliResult run_cli(const std::vector<std::string>& args);

// Expects success and answers the JSON printed: one value, or with `lines` an
// array of the values of its lines; null when it failed.
nlohmann::json cli_json(const std::vector<std::string>& args, bool lines = false);

// Expects every member of `expected` in `actual` with the same value
// (floating-point numbers within `tolerance`) and arrays of the same length.
void expect_json_subset(const nlohmann::json& actual, const nlohmann::json& expected,
                        double tolerance = 1e-6, const std::string& where = "");

std::string shell_quote(const std::string& text);

// Makes `name` in the media folder with the ffmpeg arguments given (the output
// path is appended) unless it exists; answers its path, "" when ffmpeg failed.
std::string media_file(const std::string& name, const std::string& ffmpeg_args);

// The frames ffprobe decodes from the first video stream of a file (-1 on failure).
int decoded_frames(const std::string& path, const std::string& input_format = "");

}  // namespace clitest
