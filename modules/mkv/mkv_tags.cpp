// Tags: targets and nested SimpleTags. A SimpleTag keeps only where its
// name, language, string and binary value stand in the file; the values are
// read when a query asks for them.
#include <algorithm>

#include "modules/mkv/ebml_ids.h"
#include "modules/mkv/mkv_metadata.h"
#include "modules/mkv/mkv_query.h"
#include "modules/mkv/mkv_segment.h"

namespace mkv {

namespace {

constexpr uint64_t kMaxTagValueBytes = 16u << 20;

ZEP_STATUS parse_targets(EbmlReader& reader, uint64_t dataPos, uint64_t size, MkvTag& tag) {
  auto field = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t,
                   uint64_t& childSize) -> ZEP_STATUS {
    std::vector<uint64_t>* list = nullptr;
    switch (childId) {
      case id::kTargetTypeValue:
        return ReadUInt(*r.source, childSize, &tag.targetTypeValue);
      case id::kTargetType: {
        std::u16string ignored;
        return ReadUtf8String(*r.source, childSize, &ignored);
      }
      case id::kTagTrackUid:
        list = &tag.trackUids;
        break;
      case id::kTagEditionUid:
        list = &tag.editionUids;
        break;
      case id::kTagChapterUid:
        list = &tag.chapterUids;
        break;
      case id::kTagAttachmentUid:
        list = &tag.attachmentUids;
        break;
      default:
        return ZEP_OK;
    }
    uint64_t v = 0;
    ZEP_STATUS status = ReadUInt(*r.source, childSize, &v);
    if (status >= 0 && list->size() < kMaxTracks) list->push_back(v);
    return status;
  };
  return WalkChildren(reader, dataPos, size, field);
}

ZEP_STATUS parse_simple_tag(MkvSegmentState& seg, EbmlReader& reader, uint64_t elementPos,
                            uint64_t dataPos, uint64_t size, uint32_t tagIndex, uint32_t parent,
                            uint32_t depth) {
  if (seg.simpleTags.size() >= kMaxSimpleTags || depth >= kMaxNesting) return ZEP_OK;
  const uint32_t self = uint32_t(seg.simpleTags.size());
  seg.simpleTags.emplace_back();
  {
    MkvSimpleTag& st = seg.simpleTags.back();
    st.tag = tagIndex;
    st.parent = parent;
    st.depth = depth;
    st.elementPos = elementPos;
  }
  if (parent != ZEP_SIMPLETAG_NO_PARENT) {
    seg.simpleTags[parent].children.push_back(self);
  } else {
    seg.tags[tagIndex].simpleTags.push_back(self);
  }
  auto field = [&](EbmlReader& r, uint32_t childId, uint64_t childPos, uint64_t childData,
                   uint64_t& childSize) -> ZEP_STATUS {
    MkvValueRef* ref = nullptr;
    switch (childId) {
      case id::kTagName:
        ref = &seg.simpleTags[self].name;
        break;
      case id::kTagLanguage:
        ref = &seg.simpleTags[self].language;
        break;
      case id::kTagString:
        ref = &seg.simpleTags[self].string;
        break;
      case id::kTagBinary:
        ref = &seg.simpleTags[self].binary;
        break;
      case id::kSimpleTag:
        return parse_simple_tag(seg, r, childPos, childData, childSize, tagIndex, self,
                                depth + 1);
      default:
        return ZEP_OK;
    }
    *ref = {childData, childSize, true};
    return ZEP_OK;
  };
  return WalkChildren(reader, dataPos, size, field);
}

// Reads a SimpleTag value from the file, keeping the read position of the
// block reader where it was.
ZEP_STATUS read_value(MkvContainer& c, const MkvValueRef& ref, bool utf8, bool ascii,
                      std::u16string* text, std::vector<uint8_t>* bytes) {
  const uint64_t saved = c.source.tell();
  ZEP_STATUS status = c.source.seek(ref.dataPos);
  if (status >= 0) {
    if (utf8) {
      status = ReadUtf8String(c.source, ref.size, text);
    } else if (ascii) {
      status = ReadAsciiString(c.source, ref.size, text);
    } else {
      status = ReadBinary(c.source, ref.size, bytes, kMaxTagValueBytes);
    }
  }
  c.source.seek(saved);
  return status < 0 ? ZEP_ERR_QR7_PARSE_TAGS : ZEP_OK;
}

uint32_t value_size(MkvContainer& c, const MkvValueRef& ref, bool utf8, bool ascii) {
  if (!ref.present) return 0;
  if (!utf8 && !ascii) return uint32_t(std::min(ref.size, kMaxTagValueBytes));
  std::u16string text;
  if (read_value(c, ref, utf8, ascii, &text, nullptr) < 0) return 0;
  return uint32_t((text.size() + 1) * sizeof(zep_wchar_t));
}

ZepSimpleTagInfo simple_tag_info(MkvContainer& c, uint32_t idValue) {
  const MkvSimpleTag& st = c.seg.simpleTags[idValue];
  ZepSimpleTagInfo info{};
  info.id = idValue;
  info.parentId = st.parent;
  info.tagIndex = st.tag;
  info.childCount = uint32_t(st.children.size());
  info.nameSize = value_size(c, st.name, true, false);
  info.stringSize = value_size(c, st.string, true, false);
  info.languageSize = value_size(c, st.language, false, true);
  info.binarySize = value_size(c, st.binary, false, false);
  info.depth = st.depth;
  return info;
}

}  // namespace

ZEP_STATUS parse_tags(MkvContainer& c, uint64_t dataPos, uint64_t size) {
  MkvSegmentState& seg = c.seg;
  auto tagHandler = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t childData,
                        uint64_t& childSize) -> ZEP_STATUS {
    if (childId != id::kTag || seg.tags.size() >= kMaxTags) return ZEP_OK;
    const uint32_t tagIndex = uint32_t(seg.tags.size());
    seg.tags.emplace_back();
    auto field = [&](EbmlReader& rr, uint32_t fieldId, uint64_t fieldPos, uint64_t fieldData,
                     uint64_t& fieldSize) -> ZEP_STATUS {
      if (fieldId == id::kTargets) return parse_targets(rr, fieldData, fieldSize, seg.tags[tagIndex]);
      if (fieldId == id::kSimpleTag)
        return parse_simple_tag(seg, rr, fieldPos, fieldData, fieldSize, tagIndex,
                                ZEP_SIMPLETAG_NO_PARENT, 0);
      return ZEP_OK;
    };
    return WalkChildren(r, childData, childSize, field);
  };
  return WalkChildren(c.reader, dataPos, size, tagHandler);
}

ZEP_STATUS tags_get_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index) {
  MkvSegmentState& seg = c.seg;
  const MkvTag* tag = seg.currentTag < seg.tags.size() ? &seg.tags[seg.currentTag] : nullptr;
  const MkvSimpleTag* st =
      seg.currentSimpleTag < seg.simpleTags.size() ? &seg.simpleTags[seg.currentSimpleTag] : nullptr;
  auto target = [&](const std::vector<uint64_t> MkvTag::*list) -> ZEP_STATUS {
    if (!tag || index >= (tag->*list).size()) return ZEP_FAIL;
    return put_scalar(d, qid, (tag->*list)[index]);
  };
  auto text = [&](const MkvValueRef MkvSimpleTag::*ref, bool utf8, bool ascii) -> ZEP_STATUS {
    if (!st) return ZEP_FAIL;
    const MkvValueRef& r = st->*ref;
    if (!r.present) return ZEP_FAIL;
    std::u16string value;
    std::vector<uint8_t> bytes;
    ZEP_STATUS status = read_value(c, r, utf8, ascii, &value, &bytes);
    if (status < 0) return status;
    if (utf8 || ascii) return put_string_into(d, value);
    if (!d->value.ptr) return ZEP_E_NULL_ARG;
    if (d->size < bytes.size()) return ZEP_ERR_BUFFER_TOO_SMALL;
    if (!bytes.empty()) std::memcpy(d->value.ptr, bytes.data(), bytes.size());
    d->size = uint32_t(bytes.size());
    d->valueType = ZEP_QTYPE_BUFFER;
    return ZEP_OK;
  };
  auto size = [&](const MkvValueRef MkvSimpleTag::*ref, bool utf8, bool ascii) -> ZEP_STATUS {
    if (!st) return ZEP_FAIL;
    return put_scalar(d, qid, value_size(c, st->*ref, utf8, ascii));
  };
  switch (qid) {
    case ZEP_QID_TAGS_GET_NUMTAGS:
      return put_scalar(d, qid, seg.tags.size());
    case ZEP_QID_TAGS_GET_INFO: {
      if (index >= seg.tags.size()) return ZEP_FAIL;
      const MkvTag& t = seg.tags[index];
      ZepTagInfo info{uint32_t(t.simpleTags.size()), uint32_t(t.trackUids.size()),
                      uint32_t(t.editionUids.size()), uint32_t(t.chapterUids.size()),
                      uint32_t(t.attachmentUids.size())};
      return put_record(d, &info, sizeof info);
    }
    case ZEP_QID_TAGS_GET_TAG_TARGET_TRACK:
      return target(&MkvTag::trackUids);
    case ZEP_QID_TAGS_GET_TAG_TARGET_EDITION:
      return target(&MkvTag::editionUids);
    case ZEP_QID_TAGS_GET_TAG_TARGET_CHAPTER:
      return target(&MkvTag::chapterUids);
    case ZEP_QID_TAGS_GET_TAG_TARGET_ATTACHMENT:
      return target(&MkvTag::attachmentUids);
    case ZEP_QID_TAGS_GET_SIMPLETAG_NAME_SIZE:
      return size(&MkvSimpleTag::name, true, false);
    case ZEP_QID_TAGS_GET_SIMPLETAG_NAME:
      return text(&MkvSimpleTag::name, true, false);
    case ZEP_QID_TAGS_GET_SIMPLETAG_STRING_SIZE:
      return size(&MkvSimpleTag::string, true, false);
    case ZEP_QID_TAGS_GET_SIMPLETAG_STRING:
      return text(&MkvSimpleTag::string, true, false);
    case ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE_SIZE:
      return size(&MkvSimpleTag::language, false, true);
    case ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE:
      return text(&MkvSimpleTag::language, false, true);
    case ZEP_QID_TAGS_GET_SIMPLETAG_BINARY_SIZE:
      return size(&MkvSimpleTag::binary, false, false);
    case ZEP_QID_TAGS_GET_SIMPLETAG_BINARY:
      return text(&MkvSimpleTag::binary, false, false);
    case ZEP_QID_TAGS_GET_SIMPLETAG_CHILDID:
      if (!st || index >= st->children.size()) return ZEP_FAIL;
      return put_scalar(d, qid, st->children[index]);
    case ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX: {
      if (!tag || index >= tag->simpleTags.size()) return ZEP_FAIL;
      ZepSimpleTagInfo info = simple_tag_info(c, tag->simpleTags[index]);
      return put_record(d, &info, sizeof info);
    }
    case ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYID: {
      if (index >= seg.simpleTags.size()) return ZEP_FAIL;
      ZepSimpleTagInfo info = simple_tag_info(c, index);
      return put_record(d, &info, sizeof info);
    }
    default:
      return ZEP_ERR_UNSUPPORTED_QID;
  }
}

ZEP_STATUS tags_set_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t) {
  MkvSegmentState& seg = c.seg;
  switch (qid) {
    case ZEP_QID_TAGS_SET_CURRENTTAGIDX:
      if (d->value.u32 >= seg.tags.size()) return ZEP_FAIL;
      seg.currentTag = d->value.u32;
      return ZEP_OK;
    case ZEP_QID_TAGS_SET_SIMPLETAGID:
      if (d->value.u32 >= seg.simpleTags.size()) return ZEP_FAIL;
      seg.currentSimpleTag = d->value.u32;
      return ZEP_OK;
    default:
      return ZEP_ERR_UNSUPPORTED_QID;
  }
}

}  // namespace mkv
