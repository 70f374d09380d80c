// Records of the demuxer API behind the exported functions: the instance,
// titles, streams, parsers and their stream entries. All of them live in
// memory from the host's malloc_ex and go back through its free_ex.
#pragma once

#include <cstdint>

#include "api/zep_codec_header.h"
#include "api/zep_demux.h"
#include "layer1/zep_damage.h"
#include "layer1/zep_module.h"

namespace zep::api {

constexpr uint32_t kMaxNameUnits = 32767;  // UTF-16 units without terminator
constexpr uint32_t kDefaultBlockBuffer = 100000;
constexpr uint32_t kMaxBlockBuffer = 0xA00000;  // 10 MB

struct Stream {
  zep_stream_info_t info;  // the public record handed to the host
  uint32_t blockType;      // ZEP_BLOCK_* of the container
  int16_t streamOfType;    // number within its block type
  uint8_t pcmMark;
  alignas(8) union {
    zep_video_details_t video;
    zep_audio_details_t audio;
    zep_subtitle_details_t subtitle;
  } details;
  codec::CodecHeader header;  // the derived or parsed codec header bytes
  uint32_t privateDataSize;
  uint8_t* privateData;  // owned copy
};

struct Title {
  zep_title_info_t info;
  int64_t duration;
  int16_t streamCount;
  Stream* streams;  // video, then audio, then subtitles
};

struct StreamEntry {
  bufstream* output;
  uint32_t chunkSize;  // 0: pull mode
  Stream* stream;
  uint8_t addHeader;
  uint8_t sampleTransform;
  uint8_t* savedFrame;  // last non-empty block (MPEG-4 visual family)
  uint32_t savedCapacity;
  uint32_t savedSize;
};

// The damage reports handed to the host since the file was opened, so that
// damage met again (by another parser, after a seek) is reported once.
constexpr uint32_t kMaxDamageReports = 64;
struct DamageLog {
  uint32_t count;
  uint8_t silenced;  // the host was told that further reports are left out
  uint64_t offsets[kMaxDamageReports];
  uint32_t hashes[kMaxDamageReports];
};

struct Instance;

struct Parser {
  zepdmux_parser_settings_t settings;
  Instance* demux;
  uint8_t sleeping;
  uint8_t atEnd;
  uint8_t failed;
  ZepContainer* container;
  ZepBlock block;  // data is the parser's block buffer
  uint32_t lastBlockType;
  uint32_t lastStream;
  uint8_t firstBlock;
  uint8_t redeliver;
  zep_time_info_t timeRecord;  // of the last delivered block
  int64_t lastTime;            // 100 ns start of the last delivered block (or seek target)
  uint8_t* altBuffer;
  uint32_t altCapacity;
  uint16_t number;  // slot index
  int16_t entryCount;
  int16_t entryCapacity;
  StreamEntry* entries;
};

struct Instance {
  uint8_t settings[64];
  void* context;
  uint8_t fileOpen;
  zep_wchar_t fileName[kMaxNameUnits + 1];
  uint16_t parserCount;
  Parser* parsers[ZEP_MAX_PARSERS];
  zep_file_info_t fileInfo;
  Title* titles;
  zepdmux_malloc_ex_t mallocEx;
  zepdmux_free_ex_t freeEx;
  zepdmux_printf_ex_t err;
  zepdmux_printf_ex_t wrn;
  zepdmux_printf_ex_t inf;
  zepdmux_printf_ex_t prg;
  zepdmux_get_rc_t getRc;
  DamageLog damage;
};

// While it lives, damage that the read modules meet goes to the host's
// "wrn_printf_ex" as "<what> at byte offset <n>". Every export that reads the
// file holds one.
class DamageToHost {
 public:
  explicit DamageToHost(Instance* demux);

 private:
  ZepDamageScope scope_;
};

// Zero-filled memory from the host's allocator, or null.
void* host_alloc(Instance* demux, uint64_t size);
void host_free(Instance* demux, void* pointer);

// Parsers (zep_demux_parser.cpp).
// Opens the parser's own container on the instance's file, selects its title
// and allocates its block buffer. False after the failure was reported.
bool parser_open(Parser* parser);
// Releases container, block buffer and alternate buffer.
void parser_release_io(Parser* parser);
// Releases everything of a parser, the record included.
void parser_destroy(Parser* parser);

// Delivery (zep_demux_delivery.cpp).
// Reads the next block into the parser's buffer. 1 with a block in hand,
// 0 at the end, -1 on failure (flags set).
int parser_read_block(Parser* parser, uint32_t* blockType, uint32_t* stream, uint64_t* byteTotal);
// Reads and delivers one block; the result of zepDemuxPush.
int64_t parser_read_and_deliver(Parser* parser, zep_block_info_t* callerRecord,
                                const bufstream* wanted);
// The auxiliary-information function installed in pull-mode outputs.
int32_t pull_auxinfo(bufstream* self, uint32_t offset, uint32_t infoId, void* infoPtr,
                     uint32_t infoSize);
// 100 ns to 27 MHz, rounded, held at the ends of the int64 range.
int64_t to_27mhz(int64_t time);

}  // namespace zep::api

// The opaque instance type of the public header.
struct zepdmux : zep::api::Instance {};
