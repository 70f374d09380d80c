// The AVI module's records: the handle, the context behind it, the media sets
// (one for the titles of the file, one for the media of its menu section),
// the accepted streams with their headers and read state, and the key-frame
// index of a media set.
#pragma once

#include <cstdint>

#include "layer1/zep_module.h"
#include "modules/avi/avi_chunks.h"
#include "modules/avi/avi_menu.h"

namespace avi {

inline constexpr uint32_t kMaxAudioStreams = 8;
inline constexpr uint32_t kMaxSubtitleStreams = 8;
inline constexpr uint32_t kMaxSegments = 100;
inline constexpr uint32_t kMaxTitles = 100;
inline constexpr uint32_t kMaxMenuMedia = 1000;
inline constexpr uint32_t kMaxSuperEntries = 256;
inline constexpr uint16_t kNoTitle = 0xFFFF;
inline constexpr uint64_t kNoPosition = ~uint64_t(0);
inline constexpr uint32_t kInfoTextSize = 256;
inline constexpr int64_t kUnitsPerSecond = 10000000;

}  // namespace avi

// MainAVIHeader (avih).
struct AviMainHeader {
  uint32_t microSecPerFrame;
  uint32_t maxBytesPerSec;
  uint32_t paddingGranularity;
  uint32_t flags;
  uint32_t totalFrames;
  uint32_t initialFrames;
  uint32_t streams;
  uint32_t suggestedBufferSize;
  uint32_t width;
  uint32_t height;
};

// AVISTREAMHEADER (strh data).
struct AviStreamHeader {
  avi::FourCC type;
  avi::FourCC handler;
  uint32_t flags;
  uint16_t priority;
  uint16_t language;
  uint32_t initialFrames;
  uint32_t scale;
  uint32_t rate;
  uint32_t start;
  uint32_t length;
  uint32_t suggestedBufferSize;
  uint32_t quality;
  uint32_t sampleSize;
  int16_t frame[4];
};

// BITMAPINFOHEADER (strf of video and bitmap-subtitle streams).
struct AviBitmapInfo {
  uint32_t size;
  int32_t width;
  int32_t height;
  uint16_t planes;
  uint16_t bitCount;
  avi::FourCC compression;
  uint32_t sizeImage;
  int32_t xPelsPerMeter;
  int32_t yPelsPerMeter;
  uint32_t clrUsed;
  uint32_t clrImportant;
};

// WAVEFORMATEX (strf of audio streams) with up to 22 bytes of extra data.
struct AviWaveFormat {
  uint16_t formatTag;
  uint16_t channels;
  uint32_t samplesPerSec;
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint16_t cbSize;
  uint16_t extraStored;  // extra bytes kept (cbSize when 1..22, else 0)
  uint8_t extra[22];
};

// OpenDML index header (indx / ix##).
struct AviOdmlIndexHeader {
  avi::FourCC id;
  uint32_t size;
  uint16_t longsPerEntry;
  uint8_t subType;
  uint8_t indexType;
  uint32_t entriesInUse;
  avi::FourCC chunkId;
  uint64_t baseOffset;
  uint32_t reserved;
};

// One super index entry: an ix## chunk and the frames or blocks it covers.
struct AviSuperEntry {
  uint64_t offset;
  uint32_t size;
  uint32_t duration;
};

// The AVIX continuation segments of a title.
struct AviSegment {
  uint64_t riffPosition;
  uint64_t moviPosition;
  uint32_t moviSize;
};

// How a stream's blocks are timed.
struct AviTiming {
  double frameDuration = 0;   // video: 100-ns units per frame
  bool blockCounted = false;  // audio: every chunk is one block
  double blockDuration = 0;   // audio, block-counted: 100-ns units per chunk
  uint32_t scale = 0;
  uint32_t rate = 0;
  uint32_t sampleSize = 0;
};

// Read state of one accepted stream.
struct AviStreamState {
  int64_t time;
  uint32_t blocks;
  uint64_t nextPosition;
  uint32_t lastSize;
  int64_t lastDuration;
  uint64_t bytes;
  uint32_t chunksExamined;
  uint64_t seekPosition;
  int64_t endTime;
  uint32_t active;
  uint32_t streamNumber;
  int64_t totalDuration;
  uint32_t segment;
};

// An accepted stream: its headers, name, OpenDML super index and read state.
struct AviStream {
  bool present;
  uint32_t blockType;
  uint32_t streamNumber;
  uint8_t headerRaw[64];  // strh chunk header + AVISTREAMHEADER as stored
  AviStreamHeader header;
  AviBitmapInfo bitmap;  // video and subtitle
  AviWaveFormat wave;    // audio
  char* name;            // owned, NUL-terminated strn text
  uint16_t nameLength;   // strn size + 1
  bool hasIndx;
  uint64_t indxPosition;
  AviOdmlIndexHeader indx;
  uint32_t superCount;
  AviSuperEntry* super;  // owned, superCount entries (at most 256)
  AviTiming timing;
  AviStreamState state;
};

// One key-frame entry of the index: where video resumes, and from which chunk
// every audio and subtitle stream resumes.
struct AviKeyEntry {
  uint64_t videoPosition;
  uint32_t frame;
  uint32_t segment;
  int32_t audioTimeOffset[avi::kMaxAudioStreams];
  uint64_t audioPosition[avi::kMaxAudioStreams];
  uint64_t subtitlePosition[avi::kMaxSubtitleStreams];
};

struct AviResumeQueue;  // avi_index.cpp
struct AviProbeBuffer;
struct AviIdx1Batch;

// Key-frame index of one media set.
struct AviIndex {
  void* memoryContext;
  AviKeyEntry* entries;
  uint32_t capacity;
  uint32_t count;
  uint32_t thinning;  // extra gap once the table had to be thinned
  uint32_t lastEntryFrame;
  bool haveEntry;

  // Key flags of video frames 0 .. keyCovered-1, one bit per frame.
  uint8_t* keyBits;
  uint32_t keyBitsBytes;
  uint32_t keyCovered;

  bool built;
  bool usable;
  bool odml;
  uint8_t odmlIndexType;

  // Running counts of the walk over the file's chunks, fed by the idx1 walk
  // or, without idx1, by the chunks read (on-the-fly growth).
  uint64_t highestIndexed;
  bool anyIndexed;
  uint64_t audioBlocks[avi::kMaxAudioStreams];
  uint64_t audioBytes[avi::kMaxAudioStreams];
  int64_t lastKeyTime;
  int64_t targetTime;

  // idx1 walk.
  bool idx1Decided;
  bool idx1Relative;
  bool idx1Failed;
  bool idx1Done;
  uint64_t idx1Next;  // absolute position of the next entry
  uint64_t idx1End;   // end of the entries

  AviResumeQueue* queues;   // 8 audio + 8 subtitle, allocated on first need
  AviProbeBuffer* probe;    // key-frame test of chunks that are not delivered
  AviIdx1Batch* idx1Batch;  // the idx1 entries read last
};

// Everything known about the title whose headers are loaded.
struct AviMediaSet {
  bool isMenu;
  uint32_t titleCount;
  uint64_t* offsets;
  uint16_t currentTitle;
  uint16_t audioCount;
  uint16_t videoCount;
  uint16_t subtitleCount;
  uint16_t audioPresent;
  uint16_t videoPresent;
  uint16_t subtitlePresent;
  uint64_t titlePosition;
  uint64_t titleEnd;
  bool hdrlFound;
  bool moviFound;
  uint64_t moviPosition;
  uint32_t moviSize;
  AviMainHeader mainHeader;
  AviStream video;
  AviStream audio[avi::kMaxAudioStreams];
  AviStream subtitle[avi::kMaxSubtitleStreams];
  uint8_t* cover;
  uint32_t coverSize;
  uint32_t segmentCount;
  AviSegment segments[avi::kMaxSegments];
  bool indexPresent;
  bool idx1Found;
  uint64_t idx1Position;
  bool onTheFly;
  AviIndex* index;
  // Shared read position (0: start of the current segment's movi data).
  uint64_t readPosition;
  uint32_t currentSegment;
};

// State behind the handle.
struct AviContext {
  uint64_t userValueA;
  uint64_t userValueB;
  avi::FileView file;
  void* memoryContext;
  zep_wchar_t* fileName;
  uint64_t menuPosition;
  AviMenuReader* menu;
  uint8_t* menuBuffer;
  uint64_t metadataOffset;
  AviMediaSet titles;
  AviMediaSet menuMedia;
  uint64_t titlePositions[avi::kMaxTitles];
  uint64_t menuMediaPositions[avi::kMaxMenuMedia];
  uint32_t menuMediaCount;
  bool cacheless;
  bool minMemory;
  uint32_t keyframeGap;
  uint8_t* httpAuth;
  uint32_t httpAuthSize;
};

// The module's handle.
struct AviHandle {
  AviContext* context;
  char softwareText[avi::kInfoTextSize];
  char formatVersionText[avi::kInfoTextSize];
  char profileNameText[avi::kInfoTextSize];
};
