// zepdemux: inspect, list, extract, read and seek the streams of AVI and
// Matroska files through libzepdemux, and of raw H.264 and text subtitle
// files through the container layer. Exit status: 0 success, 1 failure, 2
// usage error.
#include <cstdio>
#include <exception>

#include <CLI/CLI.hpp>

#include "layer1/zep_damage.h"
#include "tools/zepdemux/commands.h"
#include "tools/zepdemux/library_host.h"
#include "tools/zepdemux/model.h"

namespace {

void add_title(CLI::App* command, int& title) {
  command->add_option("--title", title, "Title number (default 0)")->check(CLI::NonNegativeNumber);
}

int dispatch(int argc, char** argv) {
  CLI::App app{"zepdemux: demultiplex AVI, Matroska, raw H.264 and SRT/ASS/SSA files"};
  app.require_subcommand(1);
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Also print the library's information messages");

  zepcli::InfoOptions info;
  auto* info_cmd = app.add_subcommand("info", "Container, titles and streams of a file");
  info_cmd->add_option("FILE", info.file, "Input file")->required();
  info_cmd->add_flag("--json", info.json, "JSON output");

  zepcli::PacketsOptions packets;
  auto* packets_cmd = app.add_subcommand("packets", "Every delivered block in delivery order");
  packets_cmd->add_option("FILE", packets.file, "Input file")->required();
  add_title(packets_cmd, packets.title);
  packets_cmd->add_flag("--json", packets.json, "One JSON object per line");

  zepcli::ExtractOptions extract;
  auto* extract_cmd = app.add_subcommand("extract", "Write streams to files");
  extract_cmd->add_option("FILE", extract.file, "Input file")->required();
  extract_cmd->add_option("TARGETS", extract.targets, "STREAM:OUT pairs");
  extract_cmd->add_option("--attachment", extract.attachments,
                          "N:OUT: write attachment N (from 1, as mkvextract counts) to OUT");
  add_title(extract_cmd, extract.title);
  extract_cmd->add_flag("--es", extract.es,
                        "Self-contained elementary streams (start codes, parameter sets)");
  extract_cmd->add_flag("--pull", extract.pull, "Pull mode: read the library's own buffers");
  extract_cmd->add_option("--start", extract.start, "Seek every stream to this time (s) first")
      ->check(CLI::NonNegativeNumber);

  zepcli::ReadOptions read;
  auto* read_cmd = app.add_subcommand("read", "Read every stream into a null sink and time it");
  read_cmd->add_option("FILE", read.file, "Input file")->required();
  add_title(read_cmd, read.title);
  read_cmd->add_flag("--pull", read.pull, "Pull mode: no payload byte is copied");
  read_cmd->add_flag("--json", read.json, "JSON output");

  zepcli::SeekOptions seek;
  auto* seek_cmd = app.add_subcommand("seek", "Seek every stream and list the next packets");
  seek_cmd->add_option("FILE", seek.file, "Input file")->required();
  add_title(seek_cmd, seek.title);
  seek_cmd->add_option("--time", seek.time, "Time in seconds")
      ->required()
      ->check(CLI::NonNegativeNumber);
  seek_cmd->add_option("--sync", seek.sync, "Then go to the next or previous sync point")
      ->check(CLI::IsMember({"next", "prev"}));
  seek_cmd->add_option("--count", seek.count, "Packets to list (default 10)")
      ->check(CLI::NonNegativeNumber);
  seek_cmd->add_flag("--json", seek.json, "JSON output");

  zepcli::SubsOptions subs;
  auto* subs_cmd = app.add_subcommand("subs", "List subtitle entries, optionally as PNG pictures");
  subs_cmd->add_option("FILE", subs.file, "Input file")->required();
  add_title(subs_cmd, subs.title);
  subs_cmd->add_flag("--text", subs.text, "Text output of SRT/ASS/SSA files");
  subs_cmd->add_option("--frame", subs.frame, "Frame size: 640x480, 960x720 or 1440x1080")
      ->check(CLI::IsMember({"640x480", "960x720", "1440x1080"}));
  subs_cmd->add_option("--font", subs.font, "Font file for rendering")->check(CLI::ExistingFile);
  subs_cmd->add_option("--png", subs.png_dir, "Write one PNG picture per entry into DIR");
  subs_cmd->add_flag("--json", subs.json, "One JSON object per line");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "zepdemux: %s\nRun with --help for more information.\n", e.what());
    return 2;
  }
  zepcli::host_messages().verbose = verbose;
  ZepDamageScope damage(&zepcli::container_damage_sink, nullptr);

  int status = 2;
  if (*info_cmd) status = zepcli::run_info(info);
  if (*packets_cmd) status = zepcli::run_packets(packets);
  if (*extract_cmd) status = zepcli::run_extract(extract);
  if (*read_cmd) status = zepcli::run_read(read);
  if (*seek_cmd) status = zepcli::run_seek(seek);
  if (*subs_cmd) status = zepcli::run_subs(subs);
  // What could be read was delivered; a damaged file still fails the command.
  const size_t reports = zepcli::host_messages().warned.size();
  if (status == 0 && reports > 0) {
    std::fprintf(stderr, "zepdemux: the file is damaged (%zu report%s above)\n", reports,
                 reports == 1 ? "" : "s");
    status = 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return dispatch(argc, argv);
  } catch (const zepcli::UsageError& e) {
    std::fprintf(stderr, "zepdemux: %s\n", e.what());
    return 2;
  } catch (const zepcli::Failure& e) {
    // An empty message: the library has already said what went wrong.
    if (*e.what() != '\0') std::fprintf(stderr, "zepdemux: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zepdemux: %s\n", e.what());
    return 1;
  }
}
