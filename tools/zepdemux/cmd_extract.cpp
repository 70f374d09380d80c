#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "tools/zepdemux/commands.h"
#include "tools/zepdemux/mkv_details.h"
#include "tools/zepdemux/model.h"
#include "tools/zepdemux/progress.h"

namespace zepcli {
namespace {

struct Target {
  int stream = 0;
  std::string path;
  FILE* file = nullptr;
  uint64_t bytes = 0;
};

// "STREAM:OUT" (or "N:OUT" for an attachment) with a number of digits only.
Target parse_target(const std::string& text, const char* what = "STREAM") {
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
    throw UsageError(std::string("expected ") + what + ":OUT, got \"" + text + "\"");
  const std::string number = text.substr(0, colon);
  if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 5)
    throw UsageError(std::string("invalid ") + (*what == 'N' ? "attachment" : "stream") +
                     " number in \"" + text + "\"");
  Target target;
  target.stream = std::stoi(number);
  target.path = text.substr(colon + 1);
  return target;
}

class FileWriter : public Consumer {
 public:
  FileWriter(std::map<int, Target>& targets, Progress& progress)
      : targets_(targets), progress_(progress) {}
  void bytes(int stream, const uint8_t* data, size_t size) override {
    auto it = targets_.find(stream);
    if (it == targets_.end()) return;
    if (std::fwrite(data, 1, size, it->second.file) != size)
      throw Failure("Unable to write " + it->second.path + ": " + std::strerror(errno));
    it->second.bytes += size;
    total_ += size;
  }
  bool block(const BlockEvent& event) override {
    progress_.update(event.end27, total_);
    return true;
  }

 private:
  std::map<int, Target>& targets_;
  Progress& progress_;
  uint64_t total_ = 0;
};

void close_all(std::map<int, Target>& targets, bool check) {
  for (auto& [stream, target] : targets) {
    if (target.file == nullptr) continue;
    const bool failed = std::fclose(target.file) != 0;
    target.file = nullptr;
    if (failed && check) throw Failure("Unable to write " + target.path);
  }
}

}  // namespace

int run_extract(const ExtractOptions& options) {
  if (options.targets.empty() && options.attachments.empty())
    throw UsageError("name at least one STREAM:OUT or --attachment N:OUT");
  // The whole command line is checked before anything is written.
  std::vector<Target> attachments;
  for (const auto& text : options.attachments) attachments.push_back(parse_target(text, "N"));
  std::map<int, Target> targets;
  for (const auto& text : options.targets) {
    Target target = parse_target(text);
    if (!targets.emplace(target.stream, target).second)
      throw UsageError("stream " + std::to_string(target.stream) + " is named twice");
  }
  for (const Target& target : attachments)
    extract_attachment(options.file, options.title, target.stream, target.path);
  if (targets.empty()) return 0;
  const auto source = open_source(options.file);
  SessionOptions session_options;
  session_options.title = options.title;
  session_options.add_header = options.es;
  session_options.pull = options.pull;
  for (const auto& [stream, target] : targets) session_options.streams.push_back(stream);
  auto session = source->open_session(session_options);
  if (options.start >= 0) session->seek(int64_t(std::llround(options.start * 1e7)), SyncMode::none);

  try {
    for (auto& [stream, target] : targets) {
      target.file = std::fopen(target.path.c_str(), "wb");
      if (target.file == nullptr)
        throw Failure("Unable to create " + target.path + ": " + std::strerror(errno));
    }
    const auto& title = source->desc().titles[size_t(options.title)];
    Progress progress("extract", title.duration > 0 ? int64_t(double(title.duration) * 2.7) : 0);
    FileWriter writer(targets, progress);
    session->run(writer, 0);
    progress.finish();
    close_all(targets, true);
  } catch (...) {
    close_all(targets, false);
    throw;
  }
  for (const auto& [stream, target] : targets)
    std::fprintf(stderr, "stream %d: %llu bytes to %s\n", stream,
                 static_cast<unsigned long long>(target.bytes), target.path.c_str());
  return 0;
}

}  // namespace zepcli
