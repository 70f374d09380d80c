// What the commands work with, whichever layer reads the file: a description
// of the file (titles and their streams) and a session that delivers the
// blocks of chosen streams of one title, with times in 27 MHz units as the
// library hands them to its output streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zepcli {

// Media types as the library numbers them.
enum MediaType : uint32_t { kAudio = 1, kVideo = 2, kSubtitle = 3 };

const char* media_type_name(uint32_t type);  // "audio", "video", "subtitle"

struct StreamDesc {
  int index = 0;  // number within the title: video first, then audio, then subtitles
  uint32_t type = 0;
  uint32_t codec_id = 0;
  uint32_t format_a = 0;    // compression word (video, subtitle)
  uint32_t format_b = 0;    // FourCC (video, subtitle)
  uint32_t format_tag = 0;  // audio format tag
  // video
  uint32_t width = 0, height = 0, display_width = 0, display_height = 0;
  int64_t frame_duration = 0;  // 100 ns
  // audio
  uint32_t channels = 0, sample_rate = 0, bits_per_sample = 0, avg_bytes_per_sec = 0;
  uint32_t block_align = 0;
  std::string language;  // the first text field of the stream's properties, when set
  std::vector<uint8_t> codec_header;
  std::vector<uint8_t> private_data;
};

struct TitleDesc {
  int index = 0;
  int64_t duration = -1;  // 100 ns; -1 when the container does not say
  std::vector<StreamDesc> streams;
};

struct FileDesc {
  std::string file;
  uint64_t size = 0;
  std::string container;  // "avi", "avi-opendml", "matroska", "h264", "subtitle"
  std::string layer;      // "api" (the shared library) or "container" (the container layer)
  std::vector<TitleDesc> titles;
};

// One delivered block, announced after all its bytes went to Consumer::bytes.
struct BlockEvent {
  int stream = -1;
  uint32_t type = 0;
  int64_t start27 = 0;  // 27 MHz
  int64_t end27 = 0;
  uint64_t size = 0;
  bool key = false;
};

class Consumer {
 public:
  virtual ~Consumer() = default;
  // A piece of the payload of the block being delivered on `stream`.
  virtual void bytes(int stream, const uint8_t* data, size_t size) = 0;
  // The block is complete. Return false to stop the delivery.
  virtual bool block(const BlockEvent& event) = 0;
};

enum class SyncMode { none, next, prev };

struct SessionOptions {
  int title = 0;
  std::vector<int> streams;  // numbers within the title; empty: every stream
  bool add_header = false;   // --es
  bool pull = false;         // --pull
};

class Session {
 public:
  virtual ~Session() = default;
  // Moves every stream to `time` (100 ns); answers the time reached.
  virtual int64_t seek(int64_t time, SyncMode sync) = 0;
  // Delivers blocks until the end, until the consumer says stop, or until
  // `limit` blocks (0: no limit). Answers the number of blocks delivered.
  virtual uint64_t run(Consumer& consumer, uint64_t limit) = 0;
};

class Source {
 public:
  virtual ~Source() = default;
  virtual const FileDesc& desc() const = 0;
  virtual std::unique_ptr<Session> open_session(const SessionOptions& options) = 0;
};

// Opens FILE through the shared library, or through the container layer when
// the library refuses it because its module has no container type.
std::unique_ptr<Source> open_source(const std::string& file);

// A failure with a message for stderr (exit status 1).
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A wrong command line (exit status 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// 100 ns units to 27 MHz, rounded as the library rounds.
int64_t time_to_27mhz(int64_t time100ns);
int64_t end_27mhz(int64_t start27, int64_t duration100ns);
double seconds_27mhz(int64_t t27);

}  // namespace zepcli
