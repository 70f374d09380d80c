// The constant table of named statuses and the helper that turns a status into
// its name and message for hosts and tools. Nothing in the library looks a
// status up here: statuses are only returned and compared.
#include "layer1/zep_status.h"

#include <string>
#include <unordered_map>

#include "platform/zep_platform.h"

// Stored order: ascending by code, except that ZEP_ERR_KILL stands before
// ZEP_ERR_AVC_STREAM_NOT_SUPPORTED.
extern "C" const ZepStatusEntry zepStatusTable[] = {
    {0x40000002u, u"ZEP_ERR_NO_INDEX_FOUND", u"No index found in file."},
    {0x40000003u, u"ZEP_ERR_INVALID_MENU_VERSION", u"Invalid menu version."},
    {0x40000004u, u"ZEP_WARN_NONFATAL", u"Unknown warning."},
    {0xC0000005u, u"ZEP_ERR_UNEXPECTED_ERROR", u"Unknown error."},
    {0xC0000006u, u"ZEP_ERR_INVALID_HANDLER", u"Invalid container handle."},
    {0xC0000007u, u"ZEP_ERR_INVALID_STREAM_HANDLE", u"Invalid stream handle."},
    {0xC0000008u, u"ZEP_ERR_INVALID_STREAM", u"Invalid stream."},
    {0xC0000009u, u"ZEP_ERR_BLOCK_READ_FAILURE", u"Failed to read media block."},
    {0xC000000Au, u"ZEP_ERR_BLOCK_BUFFER_TOO_SMALL", u"Block buffer too small."},
    {0xC000000Bu, u"ZEP_ERR_SEEK_FAILURE", u"Failed to execute seek."},
    {0xC000000Cu, u"ZEP_ERR_CREATE_INSTANCE", u"Failed to create instance."},
    {0xC000000Du, u"ZEP_ERR_CREATE_READ_BUFFER",
     u"Failed to create read buffer, memory may be low."},
    {0xC000000Eu, u"ZEP_ERR_INVALID_FILE", u"Invalid file."},
    {0xC000000Fu, u"ZEP_ERR_HDRL_NOT_FOUND", u"AVI file struture error, no hdrl found."},
    {0xC0000010u, u"ZEP_ERR_DUPLICATE_STRH_FOUND", u"AVI file struture error, duplicate strh's."},
    {0xC0000011u, u"ZEP_ERR_TOO_MANY_VID_STREAMS", u"Too many video streams."},
    {0xC0000012u, u"ZEP_ERR_TOO_MANY_AUD_STREAMS", u"Too many audio streams."},
    {0xC0000013u, u"ZEP_ERR_TOO_MANY_SUB_STREAMS", u"Too many subtitle streams."},
    {0xC0000014u, u"ZEP_ERR_BAD_STRUCTURE", u"Bad file structure."},
    {0xC0000015u, u"ZEP_ERR_INDEX_OUT_OF_RANGE", u"Index out of range."},
    {0xC0000016u, u"ZEP_ERR_GET_BLOCK_FAILED", u"Get block failed."},
    {0xC0000017u, u"ZEP_ERR_SET_BLOCK_FAILED", u"Set block failed."},
    {0xC0000018u, u"ZEP_ERR_SET_BY_TIME_FAILED", u"Set by time failed."},
    {0xC0000019u, u"ZEP_ERR_SET_BY_BLOCK_FAILED", u"Set by block failed."},
    {0xC000001Au, u"ZEP_ERR_END_OF_STREAM", u"End of stream."},
    {0xC000001Bu, u"ZEP_ERR_SET_TITLE_FAILED", u"Set title failure."},
    {0xC000001Cu, u"ZEP_ERR_PROCESS_INDEX_FAILED", u"Failure when processing index."},
    {0xC000001Du, u"ZEP_ERR_INVALID_BLOCK_AND_TIME", u"Invalid block time."},
    {0xC000001Eu, u"ZEP_ERR_SCAN_RIFF_FAILURE",
     u"AVI file struture error, failure when processing headers."},
    {0xC000001Fu, u"ZEP_ERR_NO_METADATA_PRESENT", u"No metadata is found in file."},
    {0xC0000021u, u"ZEP_ERR_BUFFER_TOO_SMALL", u"Buffer too small for data."},
    {0xC0000022u, u"ZEP_ERR_MENU_FUNC_NULL", u"Menu function does not exist."},
    {0xC0000023u, u"ZEP_ERR_MENU_MODULE_NULL", u"Menu module not loaded."},
    {0xC0000024u, u"ZEP_ERR_NO_MENU_FOUND", u"Menu not found."},
    {0xC0000025u, u"ZEP_ERR_UNSUPPORTED_QID", u"Query ID value not supported by module."},
    {0xC0000026u, u"ZEP_ERR_REMOTE_FILE_UNSUPPORTED", u"Remote file module not loaded."},
    {0xC0000027u, u"ZEP_ERR_INVALID_QUERY_ID", u"Invalid query ID."},
    {0xC0000028u, u"ZEP_ERR_INVALID_QUERY_DTYPE", u"Data type invalid for query."},
    {0xC0000029u, u"ZEP_ERR_INVALID_SUBTITLE", u"Invalid subtitle."},
    {0xC000002Au, u"ZEP_ERR_AUDIO_FORMAT_BAD", u"Unsupported audio format."},
    {0xC000002Bu, u"ZEP_ERR_INVALID_HTTP_SERVER", u"Invalid HTTP server."},
    {0xC000002Cu, u"ZEP_ERR_NO_DATA_STAT_FILES", u"Remote file error, no statistics file."},
    {0xC000002Du, u"ZEP_ERR_DATA_NOT_READY", u"Data not ready to read."},
    {0xC000002Eu, u"ZEP_ERR_GET_MODULE_ID", u"Failed to get module ID."},
    {0xC000002Fu, u"ZEP_ERR_CODEC_UNSUPPORTED", u"Unsupported codec."},
    {0xC0000030u, u"ZEP_ERR_NULL_MODULE_FUNC", u"Funtion does not exist in module."},
    {0xC0000031u, u"ZEP_ERR_UNSUPPORTED_CONTAINER", u"Unsupported container type."},
    {0xC0000032u, u"ZEP_ERR_OPEN_CONTAINER", u"Failed to open container."},
    {0xC0000033u, u"ZEP_ERR_LAYER1_FUNC_ERR", u"Generic Layer 1 function error."},
    {0xC0000034u, u"ZEP_ERR_BAD_MODULE_ID", u"Invalid module ID."},
    {0xC0000035u, u"ZEP_ERR_MEM_FREE", u"Failed to free memory."},
    {0xC0000036u, u"ZEP_ERR_LAYER1_MODULE_INIT", u"Failed to initialize module."},
    {0xC0000037u, u"ZEP_ERR_UNDEFINED_ENTRY", u"undefined module entry point."},
    {0xC0000038u, u"ZEP_ERR_NULL_MODULE_ID", u"Module ID null."},
    {0xC0000039u, u"ZEP_ERR_BLOCK_BUFFER_NULL", u"Block buffer NULL."},
    {0xC000003Bu, u"ZEP_ERR_ATTACHMENT_LINK_INVALID", u"Attachment link invalid."},
    {0xC000003Cu, u"ZEP_ERR_UNSUPPORTED_SPS_DATA", u"unsupported H.264 SPS data."},
    {0xC000003Du, u"ZEP_ERR_OUTSIDE_RANGE", u"Outside range."},
    {0xC000003Eu, u"ZEP_ERR_LACING_AUD_TYPE_INVALID",
     u"Invalid audio lacing type.  Audio format may not support lacing!"},
    {0xC000003Fu, u"ZEP_ERR_AR_IDC_INVALID", u"Invalid H.264 aspect ratio index."},
    {0xC0000040u, u"ZEP_ERR_AR_EXTENDED_UNSUPPORTED", u"Extended aspect ratio unsupported."},
    {0xC0000043u, u"ZEP_ERR_STRH_NOT_FOUND", u"AVI file struture error, no strf found."},
    {0xC0000045u, u"ZEP_ERR_DUPLICATE_STRF_FOUND", u"AVI file struture error, duplicate strf's."},
    {0xC0000046u, u"ZEP_ERR_STRL_NOT_FOUND", u"AVI file struture error, no strl found."},
    {0xC0000047u, u"ZEP_ERR_MOVI_NOT_FOUND", u"AVI file struture error, no movi list found."},
    {0xC0000048u, u"ZEP_ERR_FILE_CORRUPT", u"File is corrupt."},
    {0xC0000049u, u"ZEP_ERR_FILE_OPEN_FAILURE", u"Failed to open file."},
    {0xC000004Au, u"ZEP_ERR_STREAM_DNE", u"Stream does not exist."},
    {0xC000004Bu, u"ZEP_ERR_INVALID_TITLE_INDEX", u"Invalid title index."},
    {0xC000004Cu, u"ZEP_ERR_QR7_PARSE_TRACKS", u"MKV parser error, in tracks element"},
    {0xC000004Du, u"ZEP_ERR_QR7_PARSE_SEGMENTINFO", u"MKV parser error, in segmentinfo element"},
    {0xC000004Eu, u"ZEP_ERR_QR7_PARSE_CUES", u"MKV parser error, in cues element"},
    {0xC000004Fu, u"ZEP_ERR_QR7_PARSE_SEEKHEAD", u"MKV parser error, in seekhead element"},
    {0xC0000050u, u"ZEP_ERR_QR7_PARSE_HIERARCHICAL",
     u"MKV parser error, in Hierarchical Index element"},
    {0xC0000051u, u"ZEP_ERR_QR7_PARSE_TAGS", u"MKV parser error, in Tags element"},
    {0xC0000052u, u"ZEP_ERR_QR7_PARSE_ATTACHMENTS", u"MKV parser error, in Attachments element"},
    {0xC0000053u, u"ZEP_ERR_QR7_PARSE_CHAPTERS", u"MKV parser error, in Chapters element"},
    {0xC0000054u, u"ZEP_ERR_FONT_NOT_FOUND", u"Failed to load font."},
    {0xC0000055u, u"ZEP_ERR_RESOLUTION_UNSUPPORTED", u"Resolution unsupported."},
    {0xC0000056u, u"ZEP_ERR_FRAMERATE_UNSUPPORTED", u"Framerate unsupported."},
    {0xC0000057u, u"ZEP_ERR_DECODING_FAILURE", u"Decoding failure."},
    {0xC0000058u, u"ZEP_ERR_COMBINE_FIELDS_UNSUPPORTED",
     u"Combine fields requested on unsupported bitstream type."},
    {0xC000005Bu, u"ZEP_ERR_FONT_OPTIMIZATION_FAILURE", u"Failed to optimize font."},
    {0xC000005Cu, u"ZEP_ERR_INDEX_INCOMPLETE", u"Index is still building."},
    {0xC000005Du, u"ZEP_ERR_BAD_SUB_ENCODING", u"subtitle file is not utf8 encoded."},
    {0xC0000064u, u"ZEP_ERR_KILL", u"Kill command received."},
    {0xC000005Eu, u"ZEP_ERR_AVC_STREAM_NOT_SUPPORTED",
     u"The AVC stream has properties not supported."},
};

extern "C" const uint32_t zepStatusTableCount = sizeof(zepStatusTable) / sizeof(zepStatusTable[0]);

namespace {

struct StatusText {
  std::string name;
  std::string message;
};

// UTF-8 copies of the table, built once on first use.
const std::unordered_map<uint32_t, StatusText>& status_texts() {
  static const auto* texts = [] {
    auto* map = new std::unordered_map<uint32_t, StatusText>();
    for (uint32_t i = 0; i < zepStatusTableCount; ++i) {
      const ZepStatusEntry& row = zepStatusTable[i];
      map->emplace(uint32_t(row.code),
                   StatusText{zep::u16_to_utf8(row.name), zep::u16_to_utf8(row.message)});
    }
    return map;
  }();
  return *texts;
}

}  // namespace

extern "C" const char* zep_status_name(ZEP_STATUS status) {
  if (status == ZEP_OK) return "ZEP_OK";
  auto it = status_texts().find(uint32_t(status));
  return it == status_texts().end() ? nullptr : it->second.name.c_str();
}

extern "C" const char* zep_status_message(ZEP_STATUS status) {
  if (status == ZEP_OK) return "Success.";
  auto it = status_texts().find(uint32_t(status));
  if (it != status_texts().end()) return it->second.message.c_str();
  return status < 0 ? "Unknown error." : "Unknown warning.";
}
