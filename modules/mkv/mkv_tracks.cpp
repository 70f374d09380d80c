// Tracks: one record per TrackEntry, with its codec code, video and audio
// fields, content encoding and the module's track extensions; finished by
// the SPS check of AVC tracks and the AudioSpecificConfig of AAC tracks.
#include <cmath>

#include "modules/h264/h264_bitstream.h"
#include "modules/mkv/ebml_ids.h"
#include "modules/mkv/mkv_codecs.h"
#include "modules/mkv/mkv_segment.h"

namespace mkv {

namespace {

uint32_t to_hz(double v) { return v > 0 && v < 4.0e9 ? uint32_t(v) : 0; }

ZEP_STATUS read_u32(MkvByteSource& s, uint64_t size, uint32_t* out, bool* present) {
  uint64_t v = 0;
  ZEP_STATUS status = ReadUInt(s, size, &v);
  if (status < 0) return status;
  *out = v > UINT32_MAX ? UINT32_MAX : uint32_t(v);
  if (present) *present = true;
  return ZEP_OK;
}

ZEP_STATUS parse_video(EbmlReader& reader, uint64_t dataPos, uint64_t size, MkvTrack& t) {
  auto field = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t,
                   uint64_t& childSize) -> ZEP_STATUS {
    MkvByteSource& s = *r.source;
    MkvTrack::Video& v = t.video;
    switch (childId) {
      case id::kPixelWidth:
        return read_u32(s, childSize, &v.pixelWidth, &v.hasPixelWidth);
      case id::kPixelHeight:
        return read_u32(s, childSize, &v.pixelHeight, &v.hasPixelHeight);
      case id::kDisplayWidth:
        return read_u32(s, childSize, &v.displayWidth, &v.hasDisplayWidth);
      case id::kDisplayHeight:
        return read_u32(s, childSize, &v.displayHeight, &v.hasDisplayHeight);
      case id::kFlagInterlaced: {
        uint64_t value = 0;
        ZEP_STATUS status = ReadUInt(s, childSize, &value);
        // 1 is interlaced; 2 says progressive outright (ffmpeg writes it).
        if (status >= 0) v.interlaced = value == 1;
        return status;
      }
      default:
        return ZEP_OK;
    }
  };
  return WalkChildren(reader, dataPos, size, field);
}

ZEP_STATUS parse_audio(EbmlReader& reader, uint64_t dataPos, uint64_t size, MkvTrack& t) {
  auto field = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t,
                   uint64_t& childSize) -> ZEP_STATUS {
    MkvByteSource& s = *r.source;
    MkvTrack::Audio& a = t.audio;
    double f = 0;
    ZEP_STATUS status = ZEP_OK;
    switch (childId) {
      case id::kSamplingFrequency:
        status = ReadFloat(s, childSize, &f);
        a.samplingFrequency = to_hz(f);
        a.hasSamplingFrequency = status >= 0;
        return status;
      case id::kOutputSamplingFrequency:
        status = ReadFloat(s, childSize, &f);
        a.outputSamplingFrequency = to_hz(f);
        a.hasOutputSamplingFrequency = status >= 0;
        return status;
      case id::kChannels:
        return read_u32(s, childSize, &a.channels, &a.hasChannels);
      case id::kBitDepth:
        return read_u32(s, childSize, &a.bitDepth, &a.hasBitDepth);
      default:
        return ZEP_OK;
    }
  };
  return WalkChildren(reader, dataPos, size, field);
}

ZEP_STATUS parse_encodings(EbmlReader& reader, uint64_t dataPos, uint64_t size, MkvTrack& t) {
  auto compression = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t,
                         uint64_t& childSize) -> ZEP_STATUS {
    if (childId == id::kContentCompAlgo) {
      uint64_t algo = 0;
      ZEP_STATUS status = ReadUInt(*r.source, childSize, &algo);
      if (status >= 0) t.compression = algo < 4 ? uint32_t(algo + 1) : kCompressionNone;
      return status;
    }
    if (childId == id::kContentCompSettings)
      return ReadBinary(*r.source, childSize, &t.compressionSettings, kMaxCompressionSettings);
    return ZEP_OK;
  };
  auto encoding = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t childData,
                      uint64_t& childSize) -> ZEP_STATUS {
    if (childId != id::kContentCompression) return ZEP_OK;
    // An empty ContentCompression means zlib, the default algorithm.
    if (childSize == 0) {
      t.compression = kCompressionZlib;
      return ZEP_OK;
    }
    return WalkChildren(r, childData, childSize, compression);
  };
  auto encodings = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t childData,
                       uint64_t& childSize) -> ZEP_STATUS {
    if (childId != id::kContentEncoding) return ZEP_OK;
    return WalkChildren(r, childData, childSize, encoding);
  };
  return WalkChildren(reader, dataPos, size, encodings);
}

ZEP_STATUS track_field(EbmlReader& r, uint32_t childId, uint64_t dataPos, uint64_t& size,
                       MkvTrack& t) {
  MkvByteSource& s = *r.source;
  uint64_t v = 0;
  ZEP_STATUS status = ZEP_OK;
  switch (childId) {
    case id::kTrackNumber:
      return ReadUInt(s, size, &t.number);
    case id::kTrackUid:
      return ReadUInt(s, size, &t.uid);
    case id::kTrackType:
      status = ReadUInt(s, size, &v);
      if (status < 0) return status;
      if (v == 1) {
        t.kind = kKindVideo;
      } else if (v == 2) {
        t.kind = kKindAudio;
      } else if (v == 17) {
        t.kind = kKindSubtitle;
      } else {
        t.kind = kKindNone;
        t.codec = 0;
        t.video = MkvTrack::Video{};
        t.audio = MkvTrack::Audio{};
      }
      return ZEP_OK;
    case id::kTrackTimecodeScale:
      return ReadFloat(s, size, &t.timecodeScale);
    case id::kDefaultDuration:
      status = ReadUInt(s, size, &t.defaultDuration);
      t.hasDefaultDuration = status >= 0;
      return status;
    case id::kAttachmentLink:
      status = ReadUInt(s, size, &v);
      if (status >= 0 && t.attachmentLinks.size() < kMaxAttachments) t.attachmentLinks.push_back(v);
      return status;
    case id::kName:
      return ReadUtf8String(s, size, &t.name);
    case id::kLanguage:
      return ReadAsciiString(s, size, &t.language);
    case id::kCodecId:
      status = ReadUtf8String(s, size, &t.codecId);
      t.codec = codec_code(t.codecId);
      return status;
    case id::kCodecName:
      return ReadUtf8String(s, size, &t.codecName);
    case id::kCodecPrivate:
      return ReadBinary(s, size, &t.codecPrivate, kMaxCodecPrivate);
    case id::kFlagDefault:
      status = ReadUInt(s, size, &v);
      t.flagDefault = v != 0;
      return status;
    case id::kFlagForced:
      status = ReadUInt(s, size, &v);
      t.flagForced = v != 0;
      return status;
    case id::kFlagEnabled:
      status = ReadUInt(s, size, &v);
      t.flagEnabled = v != 0;
      return status;
    case id::kVideo:
      return parse_video(r, dataPos, size, t);
    case id::kAudio:
      return parse_audio(r, dataPos, size, t);
    case id::kContentEncodings:
      return parse_encodings(r, dataPos, size, t);
    case id::kEnhancedTrackUid:
      return ReadUInt(s, size, &t.enhancedUid);
    case id::kEnhancedTrackSegUid:
      if (size > kUidSize) return EBML_ERR_NO_MEMORY;
      t.enhancedSegmentUid.size = uint32_t(size);
      return ReadBinary(s, size, t.enhancedSegmentUid.bytes, kUidSize);
    case id::kEnhancedTrackFileName:
      return ReadUtf8String(s, size, &t.enhancedFileName);
    case id::kMasterTrackUid:
      return ReadUInt(s, size, &t.masterUid);
    case id::kMasterTrackSegUid:
      if (size > kUidSize) return EBML_ERR_NO_MEMORY;
      t.masterSegmentUid.size = uint32_t(size);
      return ReadBinary(s, size, t.masterSegmentUid.bytes, kUidSize);
    case id::kMasterTrackFileName:
      return ReadUtf8String(s, size, &t.masterFileName);
    default:
      return ZEP_OK;
  }
}

// The fixed slice-header bits of an AVC track that codes field pictures.
void check_avc_fields(MkvTrack& t) {
  const std::vector<uint8_t>& p = t.codecPrivate;
  if (p.size() < 8) return;
  const uint32_t spsLength = uint32_t(p[6]) << 8 | p[7];
  if (spsLength == 0 || p.size() < size_t(spsLength) + 8) return;
  ZepAvcSps sps{};
  zep_avc_parse_sps(&sps, p.data() + 8, spsLength);
  if (sps.frame_mbs_only_flag != 0) return;
  if (sps.mb_adaptive_frame_field_flag == 0) t.video.fieldCoded = true;
  t.video.sliceHeaderBits = sps.log2_max_frame_num_minus4 + 4u;
  if (sps.separate_colour_plane_flag) t.video.sliceHeaderBits += 2;
}

// Index of a frequency in the MPEG-4 sampling frequency table; 13 for an
// absent (0) frequency, 15 for one not in the table.
uint32_t frequency_index(uint32_t hz) {
  static const uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                    22050, 16000, 12000, 11025, 8000,  7350,  0};
  for (uint32_t i = 0; i < 14; ++i)
    if (kRates[i] == hz) return i;
  return 15;
}

void build_aac_config(MkvTrack& t) {
  uint32_t objectType = 2;
  switch (t.codec) {
    case 39:
    case 40:
    case 44:
      objectType = 1;
      break;
    case 43:
    case 47:
      objectType = 3;
      break;
    case 48:
      objectType = 4;
      break;
    default:
      objectType = 2;
  }
  const uint32_t index = frequency_index(t.audio.samplingFrequency);
  const uint32_t extension = frequency_index(t.audio.outputSamplingFrequency);
  // A frequency outside the table has no index: no configuration then.
  if (index == 15 || extension == 15) return;
  const uint32_t channels = t.audio.channels & 0x0F;
  t.codecPrivate = {uint8_t(objectType << 3 | index >> 1),
                    uint8_t((index & 1) << 7 | channels << 3), 0x56, 0xE5,
                    uint8_t(0x80 | extension << 3)};
}

void finish_track(MkvSegmentState& seg, MkvTrack& t) {
  // A repeated TrackUID: the first track stays. Tracks without a UID are
  // all kept.
  if (t.uid != 0)
    for (const MkvTrack& other : seg.tracks)
      if (other.uid == t.uid) return;
  if (seg.tracks.size() >= kMaxTracks) return;
  if (t.kind == kKindVideo && t.codec == kCodecAvc) check_avc_fields(t);
  if (t.kind == kKindAudio) {
    t.audio.waveTag = kCodecTable[t.codec].waveTag;
    t.audio.blockAlign = t.audio.avgBytesPerSec = 0;
    if (t.audio.waveTag == 0xFF && t.codecPrivate.empty()) build_aac_config(t);
  }
  if (t.timecodeScale == 0 || !std::isfinite(t.timecodeScale)) t.timecodeScale = 1.0;
  t.streamIndex = uint32_t(seg.byKind[t.kind].size());
  seg.byKind[t.kind].push_back(uint32_t(seg.tracks.size()));
  seg.tracks.push_back(std::move(t));
}

}  // namespace

ZEP_STATUS parse_tracks(MkvContainer& c, uint64_t dataPos, uint64_t size) {
  MkvSegmentState& seg = c.seg;
  auto entry = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t entryData,
                   uint64_t& entrySize) -> ZEP_STATUS {
    if (childId != id::kTrackEntry) return ZEP_OK;
    MkvTrack t;
    seg.trackEntryOpen = true;
    auto field = [&](EbmlReader& rr, uint32_t fieldId, uint64_t, uint64_t fieldData,
                     uint64_t& fieldSize) -> ZEP_STATUS {
      return track_field(rr, fieldId, fieldData, fieldSize, t);
    };
    ZEP_STATUS status = WalkChildren(r, entryData, entrySize, field);
    r.keepGoing = true;
    seg.trackEntryOpen = false;
    if (status < 0) return status;
    finish_track(seg, t);
    return ZEP_OK;
  };
  return WalkChildren(c.reader, dataPos, size, entry);
}

}  // namespace mkv
