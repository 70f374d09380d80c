// Attachments: the attached files' names, types and UIDs; the FileData stay
// in the file until a query reads them into the caller's buffer.
#include <algorithm>

#include "modules/mkv/ebml_ids.h"
#include "modules/mkv/mkv_metadata.h"
#include "modules/mkv/mkv_query.h"
#include "modules/mkv/mkv_segment.h"

namespace mkv {

ZEP_STATUS parse_attachments(MkvContainer& c, uint64_t dataPos, uint64_t size) {
  MkvSegmentState& seg = c.seg;
  auto file = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t childData,
                  uint64_t& childSize) -> ZEP_STATUS {
    if (childId != id::kAttachedFile || seg.attachments.size() >= kMaxAttachments) return ZEP_OK;
    MkvAttachment a;
    auto field = [&](EbmlReader& rr, uint32_t fieldId, uint64_t, uint64_t fieldData,
                     uint64_t& fieldSize) -> ZEP_STATUS {
      MkvByteSource& s = *rr.source;
      uint64_t v = 0;
      ZEP_STATUS status = ZEP_OK;
      switch (fieldId) {
        case id::kFileName:
          return ReadUtf8String(s, fieldSize, &a.fileName);
        case id::kFileMimeType:
          return ReadAsciiString(s, fieldSize, &a.mimeType);
        case id::kFileDescription:
          return ReadUtf8String(s, fieldSize, &a.description);
        case id::kFileUid:
          return ReadUInt(s, fieldSize, &a.uid);
        case id::kFileData:
          a.dataPos = fieldData;
          a.dataSize = fieldSize;
          a.hasData = true;
          return ZEP_OK;
        case id::kAttachmentStartTime:
        case id::kAttachmentEndTime:
          // Stored in 100 ns units, taken as nanoseconds.
          status = ReadUInt(s, fieldSize, &v);
          (fieldId == id::kAttachmentStartTime ? a.startTime : a.endTime) =
              int64_t(std::min<uint64_t>(v, INT64_MAX) / 100);
          return status;
        default:
          return ZEP_OK;
      }
    };
    ZEP_STATUS status = WalkChildren(r, childData, childSize, field);
    if (status < 0) return status;
    seg.attachments.push_back(std::move(a));
    return ZEP_OK;
  };
  return WalkChildren(c.reader, dataPos, size, file);
}

ZEP_STATUS attachments_get_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index) {
  MkvSegmentState& seg = c.seg;
  const MkvTrack* track = nullptr;
  switch (qid) {
    case ZEP_QID_GET_VID_ATTACHMENT_LINK_COUNT:
    case ZEP_QID_GET_VID_ATTACHMENT_LINKS:
      track = c.track(kKindVideo, index);
      break;
    case ZEP_QID_GET_AUD_ATTACHMENT_LINK_COUNT:
    case ZEP_QID_GET_AUD_ATTACHMENT_LINKS:
      track = c.track(kKindAudio, index);
      break;
    case ZEP_QID_GET_SUB_ATTACHMENT_LINK_COUNT:
    case ZEP_QID_GET_SUB_ATTACHMENT_LINKS:
      track = c.track(kKindSubtitle, index);
      break;
    default:
      break;
  }
  switch (qid) {
    case ZEP_QID_GET_ATTACHMENT_COUNT:
      return put_scalar(d, qid, seg.attachments.size());
    case ZEP_QID_GET_ATTACHMENT_SIZE:
      if (index >= seg.attachments.size()) return ZEP_FAIL;
      return put_scalar(d, qid, seg.attachments[index].dataSize);
    case ZEP_QID_GET_VID_ATTACHMENT_LINK_COUNT:
    case ZEP_QID_GET_AUD_ATTACHMENT_LINK_COUNT:
    case ZEP_QID_GET_SUB_ATTACHMENT_LINK_COUNT:
      if (!track) return ZEP_ERR_INVALID_STREAM;
      return put_scalar(d, qid, track->attachmentLinks.size());
    case ZEP_QID_GET_VID_ATTACHMENT_LINKS:
    case ZEP_QID_GET_AUD_ATTACHMENT_LINKS:
    case ZEP_QID_GET_SUB_ATTACHMENT_LINKS: {
      // The value asks for the k-th link of the stream and holds it after.
      if (!track) return ZEP_ERR_INVALID_STREAM;
      const uint64_t k = d->value.u64;
      if (k >= track->attachmentLinks.size()) return ZEP_FAIL;
      return put_scalar(d, qid, track->attachmentLinks[size_t(k)]);
    }
    case ZEP_QID_GET_ATTACHMENTINFO: {
      if (!d->value.ptr) return ZEP_E_NULL_ARG;
      if (d->size < sizeof(ZepAttachmentInfo)) return ZEP_ERR_BUFFER_TOO_SMALL;
      if (index >= seg.attachments.size()) return ZEP_ERR_QR7_PARSE_ATTACHMENTS;
      const MkvAttachment& a = seg.attachments[index];
      auto* info = static_cast<ZepAttachmentInfo*>(d->value.ptr);
      copy_text(info->fileName, ZEP_ATTACHMENT_TEXT_CHARS, a.fileName);
      copy_text(info->mimeType, ZEP_ATTACHMENT_TEXT_CHARS, a.mimeType);
      copy_text(info->description, ZEP_ATTACHMENT_TEXT_CHARS, a.description);
      info->fileUid = a.uid;
      info->startTime = a.startTime;
      info->endTime = a.endTime;
      info->dataSize = a.dataSize;
      info->dataRead = 0;
      d->valueType = ZEP_QTYPE_BUFFER;
      d->size = sizeof(ZepAttachmentInfo);
      if (!info->data || info->dataCapacity == 0 || a.dataSize == 0) return ZEP_OK;
      const uint64_t want = std::min(a.dataSize, info->dataCapacity);
      const uint64_t saved = c.source.tell();
      uint64_t got = 0;
      ZEP_STATUS status = c.source.seek(a.dataPos);
      if (status >= 0) status = c.source.read(info->data, want, &got);
      c.source.seek(saved);
      if (status < 0 || got != want) return ZEP_ERR_QR7_PARSE_ATTACHMENTS;
      info->dataRead = got;
      return ZEP_OK;
    }
    case ZEP_QID_SET_ATTACHMENT:
      return ZEP_OK;
    default:
      return ZEP_ERR_UNSUPPORTED_QID;
  }
}

}  // namespace mkv
