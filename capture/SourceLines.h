#pragma once
// Records stay apart by source. Each input assembles its own line, and only
// whole lines meet in App.buffer, in the order they were completed.
//
// The end of the buffer may hold the unfinished line of one source, so that a
// source on its own meets the buffer, the deadline and the ticks exactly as if
// it were the only input. Every other source keeps its unfinished line to
// itself until that end is free, its own deadline has passed, or its
// connection ends; its finished lines go in before the end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/Date.h"

class App;

namespace capture {

// No call record comes near this: a longer line is written as call files of
// exactly this many bytes as it arrives, so that it cannot take all memory.
inline constexpr std::size_t kLongestLine = 16u * 1024 * 1024;

class LineMerge;

// The unfinished line of one input. The serial port and every TCP connection
// own one; a source that goes away leaves its unfinished line as a record.
class SourceLine {
 public:
  explicit SourceLine(const char* name);
  ~SourceLine();
  SourceLine(const SourceLine&) = delete;
  SourceLine& operator=(const SourceLine&) = delete;

  // The connection ended: what it had of a line is a record of its own now.
  void End();

 private:
  friend class LineMerge;
  const char* name_;            // for the report of a line that is too long
  LineMerge* merge_ = nullptr;  // set while this source has an unfinished line
  fw::String held_;             // its unfinished line while it is not at the buffer's end
  fw::Ref<fw::Date> deadline_;  // ten seconds after its last data
  std::uint64_t lastLine_ = 0;  // number of the last of its lines that went into the buffer
  bool reportedLong_ = false;   // its present line was reported as too long
};

// Where the sources' lines meet in App.buffer. Owned by the application object.
class LineMerge {
 public:
  explicit LineMerge(App& app) : app_(app) {}
  ~LineMerge();
  LineMerge(const LineMerge&) = delete;
  LineMerge& operator=(const LineMerge&) = delete;

  // One delivery of source, normalised.
  void Deliver(SourceLine& source, fw::String text);
  // The source is gone: its unfinished line becomes a record.
  void End(SourceLine& source);
  // Every unfinished line becomes a record, for the end of the run.
  void EndAll();

  // For the record splitter, at the start of each tick: a line whose source's
  // deadline has passed becomes a record of its own. The one at the buffer's
  // end with nothing before it is left to the splitter, which writes it whole.
  void CloseExpired();
  // Whether the line at the buffer's end has passed its source's deadline.
  bool OpenEndExpired(const fw::Date& now);
  // The text at the buffer's end becomes a record: a CR after it.
  void CloseOpenEnd();
  // The splitter took a CR from the front of the buffer; a line taken moves
  // the deadline of the lines behind it, as one taken by a tick does.
  void LineTaken();

 private:
  // Forgets an owner whose line has left the buffer by other means.
  void Sync();
  bool OwnsOpenEnd(const SourceLine& s) const;
  std::size_t OpenEndLength();
  void List(SourceLine& s);
  void Unlist(SourceLine& s);
  void Touch(SourceLine& s);
  // Whole lines of s (ending in a CR) into the buffer, before another's open end.
  void PutLines(SourceLine& s, const fw::String& lines);
  // The longest-waiting held line moves to a free end of the buffer.
  void Promote();
  void CutLongLine(SourceLine& s);
  // Writes the buffer's lines up to line number last at once; false when one failed.
  bool WriteLinesThrough(std::uint64_t last);
  bool WriteNow(const fw::String& record);
  void Arm();

  App& app_;
  SourceLine* openEndOwner_ = nullptr;
  std::size_t openEndLength_ = 0;
  std::vector<SourceLine*> open_;  // sources with an unfinished line, longest waiting first
  std::uint64_t linesIn_ = 0;      // CRs put into the buffer
  std::uint64_t linesOut_ = 0;     // CRs taken from it
};

}  // namespace capture
