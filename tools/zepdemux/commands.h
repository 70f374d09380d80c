// The commands of the CLI; each returns the process exit status and throws
// Failure (status 1) or UsageError (status 2).
#pragma once

#include <string>
#include <vector>

namespace zepcli {

struct InfoOptions {
  std::string file;
  bool json = false;
};
int run_info(const InfoOptions& options);

struct PacketsOptions {
  std::string file;
  int title = 0;
  bool json = false;
};
int run_packets(const PacketsOptions& options);

struct ExtractOptions {
  std::string file;
  int title = 0;
  bool es = false;
  bool pull = false;
  double start = -1;                 // seconds; negative: from the beginning
  std::vector<std::string> targets;  // STREAM:OUT
  std::vector<std::string> attachments;  // N:OUT (Matroska attachments, from 1)
};
int run_extract(const ExtractOptions& options);

struct ReadOptions {
  std::string file;
  int title = 0;
  bool pull = false;
  bool json = false;
};
int run_read(const ReadOptions& options);

struct SeekOptions {
  std::string file;
  int title = 0;
  double time = 0;   // seconds
  std::string sync;  // "", "next", "prev"
  int count = 10;
  bool json = false;
};
int run_seek(const SeekOptions& options);

struct SubsOptions {
  std::string file;
  int title = 0;
  bool text = false;
  std::string frame;  // WxH
  std::string font;
  std::string png_dir;
  bool json = false;
};
int run_subs(const SubsOptions& options);

}  // namespace zepcli
