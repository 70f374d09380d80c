// Runs the built zepdemux binary and makes the media files the CLI tests
// read, with ffmpeg, once per build folder.
#pragma once

#include <string>
#include <vector>

namespace clitest {

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs zepdemux with the arguments (each quoted for the shell).
CliResult run_cli(const std::vector<std::string>& args);

// Quotes one argument for /bin/sh.
std::string shell_quote(const std::string& text);

// Makes `name` in the media folder with the ffmpeg arguments given (the
// output path is appended) unless it exists; answers its path, or "" when
// ffmpeg failed. Safe when test processes run at the same time.
std::string media_file(const std::string& name, const std::string& ffmpeg_args);

// The frames ffprobe decodes from the first video stream of a file (-1 on failure).
int decoded_frames(const std::string& path, const std::string& input_format = "");

// ffmpeg's own extraction of one stream: -map 0:N -c copy -f data.
std::string ffmpeg_stream_bytes(const std::string& path, int stream, const std::string& scratch);

// Lines of a text.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace clitest
