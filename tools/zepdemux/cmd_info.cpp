#include <cstdio>
#include <iostream>

#include "tools/zepdemux/commands.h"
#include "tools/zepdemux/format.h"
#include "tools/zepdemux/mkv_details.h"
#include "tools/zepdemux/model.h"

namespace zepcli {

int run_info(const InfoOptions& options) {
  const auto source = open_source(options.file);
  const FileDesc& file = source->desc();
  if (options.json) {
    nlohmann::ordered_json j;
    j["file"] = file.file;
    j["size"] = file.size;
    j["container"] = file.container;
    j["layer"] = file.layer;
    j["titles"] = nlohmann::ordered_json::array();
    for (const auto& title : file.titles) {
      nlohmann::ordered_json t;
      t["index"] = title.index;
      if (title.duration < 0)
        t["duration"] = nullptr;
      else
        t["duration"] = seconds_100ns(title.duration);
      t["streams"] = nlohmann::ordered_json::array();
      for (const auto& stream : title.streams) t["streams"].push_back(stream_json(stream));
      j["titles"].push_back(std::move(t));
    }
    if (file.container == "matroska")
      if (auto details = read_mkv_details(options.file)) j["matroska"] = mkv_details_json(*details);
    std::cout << j.dump(2) << '\n';
    return 0;
  }
  std::printf("file:      %s\n", file.file.c_str());
  std::printf("size:      %llu bytes\n", static_cast<unsigned long long>(file.size));
  std::printf("container: %s (%s)\n", file.container.c_str(),
              file.layer == "api" ? "read by libzepdemux" : "read through the container layer");
  std::printf("titles:    %zu\n", file.titles.size());
  for (const auto& title : file.titles) {
    const std::string duration =
        title.duration < 0 ? "unknown" : seconds_text(seconds_100ns(title.duration)) + " s";
    std::printf("title %d: duration %s, %zu stream%s\n", title.index, duration.c_str(),
                title.streams.size(), title.streams.size() == 1 ? "" : "s");
    for (const auto& stream : title.streams) std::printf("%s\n", stream_line(stream).c_str());
  }
  if (file.container == "matroska")
    if (auto details = read_mkv_details(options.file)) print_mkv_details(*details);
  return 0;
}

}  // namespace zepcli
