// Text and JSON forms shared by the commands.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/zepdemux/model.h"

namespace zepcli {

nlohmann::ordered_json stream_json(const StreamDesc& stream);
std::string stream_line(const StreamDesc& stream);

// One delivered block: {"stream","type","time","duration","size","key","crc32"}.
nlohmann::ordered_json packet_json(const BlockEvent& event, uint32_t crc);
std::string packet_line(const BlockEvent& event, uint32_t crc);
std::string packet_header_line();

// Seconds with millisecond-or-better precision and no trailing noise.
double seconds_100ns(int64_t time);
std::string seconds_text(double seconds);
std::string hex32(uint32_t value);

}  // namespace zepcli
