// Chapters: editions with their flags and nested chapter atoms, the chapter
// ends completed after the walk, ordered editions laid out as playlists, and
// the queries about them.
#include <algorithm>

#include "modules/mkv/ebml_ids.h"
#include "modules/mkv/mkv_metadata.h"
#include "modules/mkv/mkv_query.h"
#include "modules/mkv/mkv_segment.h"

namespace mkv {

namespace {

constexpr ZEP_STATUS kNoChapters = -7;

ZEP_STATUS read_flag_bit(MkvByteSource& s, uint64_t size, uint32_t* flags, uint32_t bit) {
  uint64_t v = 0;
  ZEP_STATUS status = ReadUInt(s, size, &v);
  if (status < 0) return status;
  *flags = v != 0 ? (*flags | bit) : (*flags & ~bit);
  return ZEP_OK;
}

ZEP_STATUS parse_display(EbmlReader& reader, uint64_t dataPos, uint64_t size,
                         MkvChapterDisplay& display) {
  auto field = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t,
                   uint64_t& childSize) -> ZEP_STATUS {
    switch (childId) {
      case id::kChapString:
        return ReadUtf8String(*r.source, childSize, &display.string);
      case id::kChapLanguage:
        return ReadAsciiString(*r.source, childSize, &display.language);
      case id::kChapCountry:
        return ReadAsciiString(*r.source, childSize, &display.country);
      default:
        return ZEP_OK;
    }
  };
  return WalkChildren(reader, dataPos, size, field);
}

ZEP_STATUS parse_atom(EbmlReader& reader, uint64_t dataPos, uint64_t size, MkvChapter& chapter,
                      uint32_t depth, size_t& budget) {
  auto field = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t childData,
                   uint64_t& childSize) -> ZEP_STATUS {
    MkvByteSource& s = *r.source;
    switch (childId) {
      case id::kChapterUid:
        return ReadUInt(s, childSize, &chapter.uid);
      case id::kChapterTimeStart:
        return ReadUInt(s, childSize, &chapter.start);
      case id::kChapterTimeEnd: {
        ZEP_STATUS status = ReadUInt(s, childSize, &chapter.end);
        chapter.hasEnd = status >= 0;
        return status;
      }
      case id::kChapterFlagHidden:
        return read_flag_bit(s, childSize, &chapter.flags, ZEP_CHAPTER_FLAG_HIDDEN);
      case id::kChapterFlagEnabled:
        return read_flag_bit(s, childSize, &chapter.flags, ZEP_CHAPTER_FLAG_ENABLED);
      case id::kChapterSegmentEditionUid:
        return ReadUInt(s, childSize, &chapter.segmentEditionUid);
      case id::kChapterSegmentUid:
        if (childSize > kUidSize) return EBML_ERR_NO_MEMORY;
        chapter.segmentUid.size = uint32_t(childSize);
        return ReadBinary(s, childSize, chapter.segmentUid.bytes, kUidSize);
      case id::kChapterTracks: {
        auto track = [&](EbmlReader& rr, uint32_t trackId, uint64_t, uint64_t,
                         uint64_t& trackSize) -> ZEP_STATUS {
          if (trackId != id::kChapterTrackNumber) return ZEP_OK;
          uint64_t v = 0;
          ZEP_STATUS status = ReadUInt(*rr.source, trackSize, &v);
          if (status >= 0 && chapter.tracks.size() < kMaxTracks) chapter.tracks.push_back(v);
          return status;
        };
        return WalkChildren(r, childData, childSize, track);
      }
      case id::kChapterDisplay: {
        if (chapter.displays.size() >= 256) return ZEP_OK;
        chapter.displays.emplace_back();
        return parse_display(r, childData, childSize, chapter.displays.back());
      }
      case id::kChapterAtom: {
        // Atoms nested deeper than any real file, or more of them than the
        // limit, are passed over.
        if (depth + 1 >= kMaxNesting || budget == 0) return ZEP_OK;
        --budget;
        chapter.children.emplace_back();
        return parse_atom(r, childData, childSize, chapter.children.back(), depth + 1, budget);
      }
      default:
        return ZEP_OK;
    }
  };
  return WalkChildren(reader, dataPos, size, field);
}

ZEP_STATUS parse_edition(EbmlReader& reader, uint64_t dataPos, uint64_t size, MkvEdition& edition,
                         size_t& budget) {
  auto field = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t childData,
                   uint64_t& childSize) -> ZEP_STATUS {
    MkvByteSource& s = *r.source;
    switch (childId) {
      case id::kEditionUid:
        return ReadUInt(s, childSize, &edition.uid);
      case id::kEditionFlagHidden:
        return read_flag_bit(s, childSize, &edition.flags, ZEP_EDITION_FLAG_HIDDEN);
      case id::kEditionFlagDefault:
        return read_flag_bit(s, childSize, &edition.flags, ZEP_EDITION_FLAG_DEFAULT);
      case id::kEditionFlagOrdered:
        return read_flag_bit(s, childSize, &edition.flags, ZEP_EDITION_FLAG_ORDERED);
      case id::kChapterAtom:
        if (budget == 0) return ZEP_OK;
        --budget;
        edition.chapters.emplace_back();
        return parse_atom(r, childData, childSize, edition.chapters.back(), 0, budget);
      default:
        return ZEP_OK;
    }
  };
  return WalkChildren(reader, dataPos, size, field);
}

// Ends of chapters that have none: the start of the chapter that follows;
// the last one ends at `lastEnd`. The last of the nested chapters ends just
// before the chapter that follows their parent.
void complete_ends(std::vector<MkvChapter>& chapters, uint64_t lastEnd) {
  for (size_t i = chapters.size(); i-- > 0;) {
    MkvChapter& ch = chapters[i];
    const bool last = i + 1 == chapters.size();
    if (!ch.hasEnd) {
      ch.end = last ? lastEnd : chapters[i + 1].start;
      ch.hasEnd = true;
    }
    const uint64_t next = last ? 0 : chapters[i + 1].start;
    complete_ends(ch.children, last ? lastEnd : (next > 0 ? next - 1 : 0));
  }
}

size_t count_chapters(const std::vector<MkvChapter>& chapters) {
  size_t n = chapters.size();
  for (const MkvChapter& ch : chapters) n += count_chapters(ch.children);
  return n;
}

struct FlatChapter {
  const MkvChapter* chapter;
  uint32_t depth;
};

void flatten(const std::vector<MkvChapter>& chapters, uint32_t depth,
             std::vector<FlatChapter>& out) {
  for (const MkvChapter& ch : chapters) {
    out.push_back({&ch, depth});
    flatten(ch.children, depth + 1, out);
  }
}

std::vector<FlatChapter> current_chapters(const MkvSegmentState& seg) {
  std::vector<FlatChapter> out;
  if (seg.currentEdition < seg.editions.size())
    flatten(seg.editions[seg.currentEdition].chapters, 0, out);
  return out;
}

int64_t ns_to_units(uint64_t ns) { return int64_t(std::min<uint64_t>(ns, INT64_MAX) / 100); }

// Playlists are the ordered editions, in file order.
std::vector<uint32_t> playlists(const MkvSegmentState& seg) {
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < seg.editions.size(); ++i)
    if (seg.editions[i].flags & ZEP_EDITION_FLAG_ORDERED) out.push_back(i);
  return out;
}

ZEP_STATUS select_edition(MkvSegmentState& seg, uint32_t index) {
  if (index >= seg.editions.size()) return kNoChapters;
  seg.currentEdition = index;
  seg.currentEditionUid = seg.editions[index].uid;
  return ZEP_OK;
}

}  // namespace

ZEP_STATUS parse_chapters(MkvContainer& c, uint64_t dataPos, uint64_t size) {
  MkvSegmentState& seg = c.seg;
  size_t budget = kMaxChapters;
  auto edition = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t childData,
                     uint64_t& childSize) -> ZEP_STATUS {
    if (childId != id::kEditionEntry || seg.editions.size() >= kMaxEditions) return ZEP_OK;
    seg.editions.emplace_back();
    return parse_edition(r, childData, childSize, seg.editions.back(), budget);
  };
  return WalkChildren(c.reader, dataPos, size, edition);
}

void finish_chapters(MkvSegmentState& seg) {
  const double segmentNs = seg.duration * double(seg.timecodeScale);
  const uint64_t lastEnd =
      segmentNs >= 1.0 && segmentNs < 1.8e19 ? uint64_t(segmentNs) - 1 : 0;
  seg.chapterCount = 0;
  for (MkvEdition& e : seg.editions) {
    complete_ends(e.chapters, lastEnd);
    seg.chapterCount += count_chapters(e.chapters);
    e.playlistLength = 0;
    if (!(e.flags & ZEP_EDITION_FLAG_ORDERED)) continue;
    for (MkvChapter& ch : e.chapters) {
      if (!(ch.flags & ZEP_CHAPTER_FLAG_ENABLED)) continue;
      ch.playlistOffset = int64_t(e.playlistLength) - int64_t(ch.start);
      if (ch.end > ch.start) e.playlistLength += double(ch.end - ch.start);
    }
  }
  seg.currentEdition = 0;
  for (uint32_t i = 0; i < seg.editions.size(); ++i) {
    if (seg.editions[i].flags & ZEP_EDITION_FLAG_DEFAULT) {
      seg.currentEdition = i;
      break;
    }
  }
  seg.currentEditionUid = seg.editions.empty() ? 0 : seg.editions[seg.currentEdition].uid;
  seg.playlistIndex = 0;
}

bool ordered_playlist_active(const MkvSegmentState& seg) {
  return seg.allowOrdered && seg.currentEdition < seg.editions.size() &&
         (seg.editions[seg.currentEdition].flags & ZEP_EDITION_FLAG_ORDERED);
}

const MkvChapter* playlist_chapter_at(const MkvSegmentState& seg, uint64_t segmentTimeNs) {
  if (!ordered_playlist_active(seg)) return nullptr;
  for (const MkvChapter& ch : seg.editions[seg.currentEdition].chapters)
    if ((ch.flags & ZEP_CHAPTER_FLAG_ENABLED) && segmentTimeNs >= ch.start &&
        segmentTimeNs < ch.end)
      return &ch;
  return nullptr;
}

ZEP_STATUS chapters_get_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index) {
  MkvSegmentState& seg = c.seg;
  switch (qid) {
    case ZEP_QID_EDITIONENTRY_GET_COUNT:
      return put_scalar(d, qid, seg.editions.size());
    case ZEP_QID_PLAYLISTS_GET_COUNT:
      return put_scalar(d, qid, playlists(seg).size());
    case ZEP_QID_EDITIONENTRY_GET_PROP: {
      if (index >= seg.editions.size()) return kNoChapters;
      const MkvEdition& e = seg.editions[index];
      ZepEditionProp p{};
      p.uid = e.uid;
      p.flags = e.flags;
      p.chapterCount = uint32_t(count_chapters(e.chapters));
      p.topLevelCount = uint32_t(e.chapters.size());
      p.orderedLength = ns_to_units(uint64_t(e.playlistLength));
      p.isCurrent = index == seg.currentEdition;
      return put_record(d, &p, sizeof p);
    }
    case ZEP_QID_PLAYLISTS_GET_PROP: {
      std::vector<uint32_t> lists = playlists(seg);
      if (seg.playlistIndex >= lists.size()) return kNoChapters;
      const MkvEdition& e = seg.editions[lists[seg.playlistIndex]];
      ZepPlaylistProp p{};
      p.index = seg.playlistIndex;
      p.editionUid = e.uid;
      p.chapterCount = uint32_t(e.chapters.size());
      p.duration = ns_to_units(uint64_t(e.playlistLength));
      return put_record(d, &p, sizeof p, 24);
    }
    case ZEP_QID_EDITION_ORDERED:
      if (seg.editions.empty()) return kNoChapters;
      return put_scalar(d, qid, (seg.editions[seg.currentEdition].flags & ZEP_EDITION_FLAG_ORDERED) != 0);
    case ZEP_QID_CHAPTERS_CHAPTER_COUNT:
      if (seg.editions.empty()) return kNoChapters;
      return put_scalar(d, qid, std::min<size_t>(current_chapters(seg).size(), 0xFFFF));
    case ZEP_QID_CHAPTERS_GET_CHAPTER_PROP:
    case ZEP_QID_CHAPTERS_CHAPTER_NAME:
    case ZEP_QID_CHAPTERS_CHAPTER_LANG:
    case ZEP_QID_CHAPTERS_CHAPTER_COUNTRY:
    case ZEP_QID_CHAPTERS_CHAPTER_STARTTIME:
    case ZEP_QID_CHAPTERS_CHAPTER_ENDTIME:
    case ZEP_QID_CHAPTERS_CHAPTER_HIDDEN: {
      std::vector<FlatChapter> flat = current_chapters(seg);
      if (index >= flat.size()) return kNoChapters;
      const MkvChapter& ch = *flat[index].chapter;
      const MkvChapterDisplay* display = ch.displays.empty() ? nullptr : &ch.displays.front();
      switch (qid) {
        case ZEP_QID_CHAPTERS_CHAPTER_NAME:
          return put_new_string(d, display ? display->string : u"", display, c.alloc);
        case ZEP_QID_CHAPTERS_CHAPTER_LANG:
          return put_new_string(d, display ? display->language : u"",
                                display && !display->language.empty(), c.alloc);
        case ZEP_QID_CHAPTERS_CHAPTER_COUNTRY:
          return put_new_string(d, display ? display->country : u"",
                                display && !display->country.empty(), c.alloc);
        case ZEP_QID_CHAPTERS_CHAPTER_STARTTIME:
          return put_scalar(d, qid, uint64_t(ns_to_units(ch.start)));
        case ZEP_QID_CHAPTERS_CHAPTER_ENDTIME:
          return put_scalar(d, qid, uint64_t(ns_to_units(ch.end)));
        case ZEP_QID_CHAPTERS_CHAPTER_HIDDEN:
          return put_scalar(d, qid, (ch.flags & ZEP_CHAPTER_FLAG_HIDDEN) != 0);
        default: {
          ZepChapterProp p{};
          p.uid = ch.uid;
          p.start = ns_to_units(ch.start);
          p.end = ns_to_units(ch.end);
          p.playlistOffset = ch.playlistOffset / 100;
          p.segmentEditionUid = ch.segmentEditionUid;
          p.flags = ch.flags;
          p.depth = flat[index].depth;
          p.displayCount = uint32_t(ch.displays.size());
          p.trackCount = uint32_t(ch.tracks.size());
          p.childCount = uint32_t(ch.children.size());
          p.segmentUidSize = ch.segmentUid.size;
          std::memcpy(p.segmentUid, ch.segmentUid.bytes, sizeof p.segmentUid);
          return put_record(d, &p, sizeof p);
        }
      }
    }
    default:
      return ZEP_ERR_UNSUPPORTED_QID;
  }
}

ZEP_STATUS chapters_set_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t) {
  MkvSegmentState& seg = c.seg;
  switch (qid) {
    case ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX:
      return select_edition(seg, d->value.u32);
    case ZEP_QID_PLAYLISTS_SET_PLAYLIST_IDX: {
      std::vector<uint32_t> lists = playlists(seg);
      if (d->value.u32 >= lists.size()) return kNoChapters;
      seg.playlistIndex = d->value.u32;
      return select_edition(seg, lists[d->value.u32]);
    }
    default:
      return ZEP_ERR_UNSUPPORTED_QID;
  }
}

}  // namespace mkv
