// The call log writer: UTF-16LE text records in a file that the operator has
// placed beforehand. The file is opened for writing without creation, so a
// missing file means no log and no other effect.
#ifndef ZEP_CALL_LOG_H
#define ZEP_CALL_LOG_H

#include "platform/zep_platform.h"

struct ZepLog {
  ZepFile* file;        // null when the file could not be opened
  zep_wchar_t* name;    // owned copy
  zep_wchar_t* buffer;  // formatted text, grown on demand
  uint32_t capacity;    // bytes
  uint32_t writeByteOrderMark;
  uint32_t append;
};

// The file the dispatch module traces into, in the current directory.
inline constexpr zep_wchar_t kZepCallLogName[] = u"L1log.txt";

// -2 for a null out pointer, -10 when the writer cannot be allocated,
// otherwise the status of the file open; the writer is stored in either case.
ZEP_STATUS zep_log_open(const zep_wchar_t* name, uint32_t writeByteOrderMark, uint32_t append,
                        ZepLog** out);
// Formats one record (wide printf convention: %s takes a UTF-16 string) and
// writes it followed by one line feed. -2 for a null writer, a writer without
// file or a null format; otherwise the status of the write.
ZEP_STATUS zep_log_write(ZepLog* log, const zep_wchar_t* format, ...);
// Releases everything and stores null; -2 for a null argument or writer.
ZEP_STATUS zep_log_close(ZepLog** log);

#endif
