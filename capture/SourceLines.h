#pragma once
// The input buffer, App.buffer, and its one owner. Records stay apart by
// source: each input assembles its own line, and only whole lines meet in the
// buffer, in the order they were completed.
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

// No call record comes near this, and no call file is longer: a longer line
// is cut into pieces of exactly this many bytes, the last one shorter,
// however its bytes and its line end arrive. An unfinished one is written as
// it arrives, so that it cannot take all memory.
inline constexpr std::size_t kLongestLine = 16u * 1024 * 1024;

class InputBuffer;

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
  friend class InputBuffer;
  const char* name_;               // for the report of a line that is too long
  InputBuffer* buffer_ = nullptr;  // set while this source has an unfinished line
  fw::String held_;                // its unfinished line while it is not at the buffer's end
  fw::Ref<fw::Date> deadline_;     // ten seconds after its last data
  std::uint64_t lastLine_ = 0;     // number of the last of its lines that went into the buffer
  bool reportedLong_ = false;      // its present line was reported as too long
};

// Received text not yet written, and the only thing that changes it: it
// knows at every moment whose line stands at its end and how many lines it
// holds. Owned by the application object.
class InputBuffer {
 public:
  explicit InputBuffer(App& app) : app_(app) {}
  ~InputBuffer();
  InputBuffer(const InputBuffer&) = delete;
  InputBuffer& operator=(const InputBuffer&) = delete;

  const fw::String& Text() const { return text_; }

  // One delivery of source, normalised.
  void Deliver(SourceLine& source, fw::String text);
  // The source is gone: its unfinished line becomes a record.
  void End(SourceLine& source);
  // Text that no input delivered, as it stands: its unfinished end is no
  // source's line and waits for the buffer's deadline. With a source's line
  // at the end it goes in before that line, as whole lines.
  void Append(fw::String text);

  // For the record splitter, at the start of each tick: a line whose source's
  // deadline has passed becomes a record of its own. The one at the buffer's
  // end with nothing before it is left to the splitter, which writes it whole.
  void CloseExpired();
  // Whether the line at the buffer's end has passed its source's deadline.
  bool OpenEndExpired(const fw::Date& now) const;
  // The splitter took the first line: it leaves the buffer with its CR. A
  // line taken moves the deadline of the lines behind it.
  void TakeLine();
  // The splitter wrote the whole buffer, which holds no CR: it is emptied.
  void TakeAll();
  // The text at the buffer's end becomes a record: a CR after it.
  void CloseOpenEnd();

  // For the end of the run: every unfinished line becomes a record and every
  // record a call file, durable together first, then each under its name. A
  // record that cannot be written is reported with its exact bytes, stays in
  // the buffer, and does not stop the others. Returns how many were written.
  int WriteEveryRecord(const fw::String& where);

 private:
  bool OwnsOpenEnd(const SourceLine& s) const { return openEndOwner_ == &s; }
  std::size_t OpenEndLength() const;
  std::size_t LineLength(const SourceLine& s) const { return OwnsOpenEnd(s) ? openEndLength_ : s.held_.size(); }
  void EndAll();
  void List(SourceLine& s);
  void Unlist(SourceLine& s);
  void Touch(SourceLine& s);
  // count lines left the buffer from its front.
  void LinesTaken(std::uint64_t count);
  // Whole lines of s (ending in a CR) into the buffer, before another's open end.
  void PutLines(SourceLine& s, fw::String lines);
  // The longest-waiting held line moves to a free end of the buffer.
  void Promote();
  void CutLongLine(SourceLine& s);
  void Arm();

  App& app_;
  fw::String text_;
  SourceLine* openEndOwner_ = nullptr;  // whose line the last openEndLength_ bytes are
  std::size_t openEndLength_ = 0;
  std::vector<SourceLine*> open_;  // sources with an unfinished line, longest waiting first
  std::uint64_t linesIn_ = 0;      // CRs put into the buffer
  std::uint64_t linesOut_ = 0;     // CRs taken from it; the buffer holds linesIn_ - linesOut_
};

}  // namespace capture
