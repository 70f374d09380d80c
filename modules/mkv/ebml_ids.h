// Element IDs as they stand in the file, marker bits included.
#pragma once

#include <cstdint>

namespace mkv::id {

constexpr uint32_t kEbml = 0x1A45DFA3, kDocType = 0x4282;
constexpr uint32_t kSegment = 0x18538067, kCrc32 = 0xBF, kVoid = 0xEC;
// SeekHead and SegmentInfo.
constexpr uint32_t kSeekHead = 0x114D9B74, kSeek = 0x4DBB, kSeekId = 0x53AB, kSeekPosition = 0x53AC;
constexpr uint32_t kInfo = 0x1549A966, kTimecodeScale = 0x2AD7B1, kDuration = 0x4489;
constexpr uint32_t kSegmentUid = 0x73A4, kPrevUid = 0x3CB923, kNextUid = 0x3EB923;
constexpr uint32_t kTitle = 0x7BA9, kSegmentFileName = 0x7384, kPrevFileName = 0x3C83AB;
constexpr uint32_t kNextFileName = 0x3E83BB, kMuxingApp = 0x4D80, kWritingApp = 0x5741;
// Tracks.
constexpr uint32_t kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackNumber = 0xD7;
constexpr uint32_t kTrackUid = 0x73C5, kTrackType = 0x83, kFlagEnabled = 0xB9;
constexpr uint32_t kFlagDefault = 0x88, kFlagForced = 0x55AA, kFlagLacing = 0x9C;
constexpr uint32_t kMinCache = 0x6DE7, kMaxCache = 0x6DF8, kDefaultDuration = 0x23E383;
constexpr uint32_t kTrackTimecodeScale = 0x23314F, kName = 0x536E, kLanguage = 0x22B59C;
constexpr uint32_t kCodecId = 0x86, kCodecPrivate = 0x63A2, kCodecName = 0x258688;
constexpr uint32_t kAttachmentLink = 0x7446, kCodecDecodeAll = 0xAA;
constexpr uint32_t kVideo = 0xE0, kFlagInterlaced = 0x9A, kPixelWidth = 0xB0, kPixelHeight = 0xBA;
constexpr uint32_t kDisplayWidth = 0x54B0, kDisplayHeight = 0x54BA, kDisplayUnit = 0x54B2;
constexpr uint32_t kAudio = 0xE1, kSamplingFrequency = 0xB5, kOutputSamplingFrequency = 0x78B5;
constexpr uint32_t kChannels = 0x9F, kBitDepth = 0x6264;
constexpr uint32_t kContentEncodings = 0x6D80, kContentEncoding = 0x6240;
constexpr uint32_t kContentCompression = 0x5034, kContentCompAlgo = 0x4254;
constexpr uint32_t kContentCompSettings = 0x4255;
constexpr uint32_t kEnhancedTrackFlag = 0xC6, kEnhancedTrackUid = 0xC0, kEnhancedTrackSegUid = 0xC1;
constexpr uint32_t kEnhancedTrackFileName = 0xC2, kMasterTrackUid = 0xC7;
constexpr uint32_t kMasterTrackSegUid = 0xC4, kMasterTrackFileName = 0xC5;
// Clusters and blocks.
constexpr uint32_t kCluster = 0x1F43B675, kTimecode = 0xE7, kPosition = 0xA7, kPrevSize = 0xAB;
constexpr uint32_t kSimpleBlock = 0xA3, kBlockGroup = 0xA0, kBlock = 0xA1;
constexpr uint32_t kBlockDuration = 0x9B, kReferenceBlock = 0xFB;
constexpr uint32_t kPrevRefFrame = 0xC8, kPrevRefFrameOffset = 0xC9, kPrevRefFrameTimecode = 0xCA;
// Cues and the hierarchical index.
constexpr uint32_t kCues = 0x1C53BB6B, kCuePoint = 0xBB, kCueTime = 0xB3;
constexpr uint32_t kCueTrackPositions = 0xB7, kCueTrack = 0xF7, kCueClusterPosition = 0xF1;
constexpr uint32_t kCueBlockNumber = 0x5378, kCueBlockGroupPositions = 0xF8;
constexpr uint32_t kCueBlockGroupPosition = 0xF9;
constexpr uint32_t kHierarchicalIndex = 0x2AD1D3, kHierarchicalIndexPoint = 0x30A1D9;
constexpr uint32_t kHierarchicalIndexTime = 0x4A10, kHierarchicalIndexPositions = 0x4A11;
constexpr uint32_t kHierarchicalIndexTrack = 0x4A12, kHierarchicalIndexCuePos = 0x4A13;
// Chapters.
constexpr uint32_t kChapters = 0x1043A770, kEditionEntry = 0x45B9, kEditionUid = 0x45BC;
constexpr uint32_t kEditionFlagHidden = 0x45BD, kEditionFlagDefault = 0x45DB;
constexpr uint32_t kEditionFlagOrdered = 0x45DD, kChapterAtom = 0xB6, kChapterUid = 0x73C4;
constexpr uint32_t kChapterTimeStart = 0x91, kChapterTimeEnd = 0x92, kChapterFlagHidden = 0x98;
constexpr uint32_t kChapterFlagEnabled = 0x4598, kChapterSegmentUid = 0x6E67;
constexpr uint32_t kChapterSegmentEditionUid = 0x6EBC, kChapterTracks = 0x8F;
constexpr uint32_t kChapterTrackNumber = 0x89, kChapterDisplay = 0x80, kChapString = 0x85;
constexpr uint32_t kChapLanguage = 0x437C, kChapCountry = 0x437E;
// Attachments.
constexpr uint32_t kAttachments = 0x1941A469, kAttachedFile = 0x61A7;
constexpr uint32_t kFileDescription = 0x467E, kFileName = 0x466E, kFileMimeType = 0x4660;
constexpr uint32_t kFileData = 0x465C, kFileUid = 0x46AE;
constexpr uint32_t kAttachmentStartTime = 0x4661, kAttachmentEndTime = 0x4662;
// Tags.
constexpr uint32_t kTags = 0x1254C367, kTag = 0x7373, kTargets = 0x63C0, kTargetType = 0x63CA;
constexpr uint32_t kTargetTypeValue = 0x68CA, kTagTrackUid = 0x63C5, kTagEditionUid = 0x63C9;
constexpr uint32_t kTagChapterUid = 0x63C4, kTagAttachmentUid = 0x63C6, kSimpleTag = 0x67C8;
constexpr uint32_t kTagName = 0x45A3, kTagLanguage = 0x447A, kTagOriginal = 0x4484;
constexpr uint32_t kTagString = 0x4487, kTagBinary = 0x4485;

}  // namespace mkv::id
