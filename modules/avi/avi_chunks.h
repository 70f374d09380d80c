// RIFF structure layer of the AVI module: FourCCs, positioned reads through
// the platform file, chunk and list headers, and the walk over the children
// of a list. Nothing here knows about streams or indexes; the demux logic
// sits on top of it. Every child is checked against its parent's end, and all
// positions are 64-bit so that a 32-bit size plus its pad byte cannot wrap.
#pragma once

#include <cstdint>

#include "layer1/zep_status.h"
#include "platform/zep_platform.h"

namespace avi {

// A FourCC: four raw bytes in file order, kept as their little-endian value
// so that comparisons are exact and never case-folded.
using FourCC = uint32_t;

constexpr FourCC fourcc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

inline constexpr FourCC kRIFF = fourcc("RIFF");
inline constexpr FourCC kMRIF = fourcc("MRIF");
inline constexpr FourCC kLIST = fourcc("LIST");
inline constexpr FourCC kAVI = fourcc("AVI ");
inline constexpr FourCC kAVIX = fourcc("AVIX");
inline constexpr FourCC kMENU = fourcc("MENU");
inline constexpr FourCC kMETA = fourcc("META");
inline constexpr FourCC kHdrl = fourcc("hdrl");
inline constexpr FourCC kMovi = fourcc("movi");
inline constexpr FourCC kINFO = fourcc("INFO");
inline constexpr FourCC kStrl = fourcc("strl");
inline constexpr FourCC kRec = fourcc("rec ");
inline constexpr FourCC kNRRL = fourcc("NRRL");
inline constexpr FourCC kAvih = fourcc("avih");
inline constexpr FourCC kStrh = fourcc("strh");
inline constexpr FourCC kStrf = fourcc("strf");
inline constexpr FourCC kStrn = fourcc("strn");
inline constexpr FourCC kIndx = fourcc("indx");
inline constexpr FourCC kIdx1 = fourcc("idx1");
inline constexpr FourCC k1idx = fourcc("1idx");
inline constexpr FourCC kDpic = fourcc("dpic");
inline constexpr FourCC kISFT = fourcc("ISFT");
inline constexpr FourCC kINFV = fourcc("INFV");
inline constexpr FourCC kINPN = fourcc("INPN");
inline constexpr FourCC kVids = fourcc("vids");
inline constexpr FourCC kAuds = fourcc("auds");
inline constexpr FourCC kNRSB = fourcc("NRSB");
inline constexpr FourCC kNRSA = fourcc("NRSA");
inline constexpr FourCC kNOR3 = fourcc("NOR3");
inline constexpr FourCC kNOR4 = fourcc("NOR4");

inline bool is_riff_id(FourCC id) { return id == kRIFF || id == kMRIF; }
inline bool is_list_id(FourCC id) { return id == kRIFF || id == kMRIF || id == kLIST; }

// Positioned reads on the opened file. The size is taken once at open; reads
// never return bytes beyond it.
struct FileView {
  // Gaps up to this size ahead of the position are read over, not seeked.
  static constexpr uint32_t kSkipByReading = 64;

  ZepFile* file = nullptr;
  uint64_t size = 0;

  // Reads up to `count` bytes at `pos`; *got receives what was read (fewer at
  // the end of the file). A platform failure is returned as is.
  ZEP_STATUS read_at(uint64_t pos, void* buffer, uint32_t count, uint32_t* got);
  // 0 when all `count` bytes were read; ZEP_FAIL for a short read.
  ZEP_STATUS read_exact(uint64_t pos, void* buffer, uint32_t count);
  // The file's current (tracked) position.
  uint64_t tell() const;
};

// A chunk or list header. `form` is set only for RIFF/MRIF/LIST headers read
// with their form type.
struct ChunkHeader {
  uint64_t position = 0;
  FourCC id = 0;
  uint32_t size = 0;
  FourCC form = 0;
  bool hasForm = false;

  uint64_t data() const { return position + 8; }
  // Position of the next sibling: header, data and the pad byte of an odd size.
  uint64_t next() const { return position + 8 + uint64_t(size) + (size & 1u); }
  // End of the data without pad byte.
  uint64_t end() const { return position + 8 + uint64_t(size); }
  bool is_list(FourCC formType) const { return hasForm && id == kLIST && form == formType; }
};

// Reads the 8-byte header at `pos`, and the form type when the id is a list
// id and the four bytes are there. ZEP_FAIL when fewer than 8 bytes remain.
ZEP_STATUS read_header(FileView& file, uint64_t pos, ChunkHeader* out);

// Walks the children of a list from `first` while a whole 8-byte header fits
// before `end`. A child may extend past `end` (a cut file); callers clamp what
// they read with `clamp_size`.
class ChildWalker {
 public:
  ChildWalker(FileView& file, uint64_t first, uint64_t end) : file_(file), pos_(first), end_(end) {}
  // False at the end of the list or on a failed read (status() then tells).
  bool next(ChunkHeader* out);
  ZEP_STATUS status() const { return status_; }
  uint64_t position() const { return pos_; }

 private:
  FileView& file_;
  uint64_t pos_;
  uint64_t end_;
  ZEP_STATUS status_ = ZEP_OK;
};

// Bytes of a chunk's data that lie within both its parent and the file. A
// chunk that does not fit is reported as damage (cut file or overlong chunk).
uint32_t clamp_size(const ChunkHeader& chunk, uint64_t parentEnd, uint64_t fileSize);
// The four characters of a chunk id, '?' for any that does not print.
const char* fourcc_text(FourCC id, char out[5]);

// Stream chunk ids of movi: two digits plus dc/db/xx (video), wb (audio) or
// sb (subtitle), or the same letters followed by the digits.
struct StreamChunkId {
  uint32_t blockType = 0;  // 0: not a stream chunk
  uint32_t number = 0;     // stream number (position of the strl)
};
StreamChunkId classify_chunk(FourCC id);

}  // namespace avi
