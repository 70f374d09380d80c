// A read module for tests of the demuxer API: it takes files whose names end
// in ".fake" and serves titles, stream formats, private data and blocks from
// a scenario the test describes, recording what the API asked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layer1/zep_module.h"

namespace zeptest {

struct FakeBlock {
  uint32_t type;  // ZEP_BLOCK_*
  uint32_t stream;
  std::vector<uint8_t> bytes;
  int64_t time = 0;
  int64_t duration = 0;
  bool key = true;
};

struct FakeVideo {
  ZepVideoStreamFormat format{};
  std::vector<uint8_t> privateData;
};

struct FakeAudio {
  ZepAudioStreamFormat format{};
  ZepAudioMediaProp prop{};
  std::vector<uint8_t> privateData;
};

struct FakeSubtitle {
  ZepSubtitleStreamFormat format{};
  ZepSubtitleMediaProp prop{};
  std::vector<uint8_t> privateData;
};

struct FakeTitle {
  int64_t duration = 100000000;  // 10 s
  std::vector<FakeVideo> video;
  std::vector<FakeAudio> audio;
  std::vector<FakeSubtitle> subtitle;
  std::vector<FakeBlock> blocks;
};

struct FakeScenario {
  bool answerContainerType = true;
  uint32_t containerType = 0;
  std::vector<FakeTitle> titles;
  // Blocks are refused with ZEP_ERR_BLOCK_BUFFER_TOO_SMALL instead of being
  // grown through EnsureBlockCapacity.
  bool refuseSmallBuffers = false;
  // The block read after this many blocks fails with this status (-1: never).
  int failAfterBlocks = -1;
  ZEP_STATUS failStatus = ZEP_ERR_BLOCK_READ_FAILURE;
  // Answers of the sync-time queries.
  int64_t nextSyncTime = 0;
  int64_t prevSyncTime = 0;

  // Recorded by the module: containers opened and closed, positions and
  // sync-time queries asked for.
  int opens = 0;
  int closes = 0;
  struct Position {
    uint32_t type, stream;
    int64_t time;
  };
  std::vector<Position> positions;
  struct Query {
    uint32_t qid;
    int64_t value;
  };
  std::vector<Query> syncQueries;
};

// The scenario the module serves; the test owns it.
extern FakeScenario* g_fake;

// Registers the module (id 3) once; safe to call from every test.
void register_fake_module();

// Format records: video with a FourCC and a frame rate, audio with a tag.
ZepVideoStreamFormat fake_video_format(const char* fourcc, uint32_t rate, uint32_t scale,
                                       uint32_t width, uint32_t height);
ZepAudioStreamFormat fake_audio_format(uint16_t tag, uint16_t channels, uint32_t rate,
                                       uint16_t bits);

}  // namespace zeptest
