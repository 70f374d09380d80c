// Small text tools shared by the SRT and ASS/SSA readers: blank-line test,
// bounded UTF-8 appends that never split a character, and a scanner that reads
// decimal numbers and literal characters the way a scanf format does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zep::subtitle {

// Every text handed out by a reader fits a 1000-byte record with its
// terminating zero.
inline constexpr size_t kEntryTextSize = 1000;
inline constexpr size_t kMaxTextBytes = kEntryTextSize - 1;

// The length of the longest prefix of `text` of at most `limit` bytes that
// does not end inside a UTF-8 sequence.
size_t Utf8PrefixLength(std::string_view text, size_t limit);

// Appends `piece` to `text` while text stays within `limit` bytes; a piece
// that does not fit whole is cut at a character boundary. Answers false when
// something was cut (the text is then full for the caller's purposes).
bool AppendBounded(std::string* text, std::string_view piece, size_t limit);

// True when every character of the line (UTF-8) is white space or a control
// character; an empty line is blank. Bytes that are no valid UTF-8 count as
// ordinary characters.
bool IsBlankLine(std::string_view line);

// ASCII-only case-insensitive comparison.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

std::string_view TrimSpaces(std::string_view text);

// Reads a text with the rules of a scanf format made of %d conversions,
// literal characters and white space: a number skips leading white space and
// takes an optional sign and at least one digit; a literal must match the
// next character exactly; white space in the format skips any amount of white
// space (also none). Numbers saturate at the given bounds instead of
// overflowing.
class FormatScanner {
 public:
  explicit FormatScanner(std::string_view text) : text_(text) {}

  bool Number(int64_t* value, int64_t lowest, int64_t highest);
  bool Literal(char c);
  void SkipSpace();

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// (((hours * 60 + minutes) * 60 + seconds) * fractionsPerSecond + fraction)
// * unitsPerFraction, computed without overflow: a result beyond the 64-bit
// range becomes INT64_MAX and a negative result 0.
int64_t ClockToTime(int64_t hours, int64_t minutes, int64_t seconds, int64_t fraction,
                    int64_t fractionsPerSecond, int64_t unitsPerFraction);

}  // namespace zep::subtitle
