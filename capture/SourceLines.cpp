#include "capture/SourceLines.h"

#include <algorithm>
#include <string_view>

#include "capture/App.h"
#include "capture/CallFile.h"
#include "capture/secondTimer.h"
#include "framework/Event.h"

namespace capture {

namespace {

constexpr char kCR = '\r';

std::size_t CountCRs(const fw::String& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), kCR)); }

bool EndsOpen(const fw::String& s) { return !s.empty() && s.back() != kCR; }

bool Later(const fw::Date& a, const fw::Date& b) { return a.Compare(b) > 0; }

// Cuts every line that ends in lines and is longer than kLongestLine into
// pieces of exactly that many bytes, each ended by a CR, the last one
// shorter; lead bytes of the first line stand before lines. With unfinished,
// the text after the last CR is cut the same way, its last piece left open.
void CutLongLines(fw::String& lines, std::size_t lead, bool unfinished) {
  if (lead + lines.size() <= kLongestLine) return;
  fw::String cut;
  bool any = false;
  std::size_t copied = 0;
  for (std::size_t start = 0, before = lead; start < lines.size(); before = 0) {
    std::size_t end = lines.find(kCR, start);
    if (end == fw::String::npos) {
      if (!unfinished) break;
      end = lines.size();
    }
    if (before + (end - start) > kLongestLine) {
      for (std::size_t at = start + kLongestLine - std::min(before, kLongestLine); at < end; at += kLongestLine) {
        cut.append(lines, copied, at - copied);
        cut += kCR;
        copied = at;
        any = true;
      }
    }
    start = end + 1;
  }
  if (!any) return;
  cut.append(lines, copied);
  lines.swap(cut);
}

}  // namespace

// ---- SourceLine ----

SourceLine::SourceLine(const char* name) : name_(name), deadline_(fw::New<fw::Date>()) {}

SourceLine::~SourceLine() { End(); }

void SourceLine::End() {
  if (buffer_) buffer_->End(*this);
}

// ---- InputBuffer ----

InputBuffer::~InputBuffer() {
  for (SourceLine* s : open_) s->buffer_ = nullptr;
}

std::size_t InputBuffer::OpenEndLength() const {
  if (!EndsOpen(text_)) return 0;
  if (openEndOwner_) return openEndLength_;
  // Text that no source put there: it ends at the last CR all the same.
  const std::size_t cr = text_.rfind(kCR);
  return cr == fw::String::npos ? text_.size() : text_.size() - cr - 1;
}

void InputBuffer::List(SourceLine& s) {
  if (s.buffer_) return;
  s.buffer_ = this;
  open_.push_back(&s);
}

void InputBuffer::Unlist(SourceLine& s) {
  open_.erase(std::remove(open_.begin(), open_.end(), &s), open_.end());
  s.buffer_ = nullptr;
  s.reportedLong_ = false;
  fw::String().swap(s.held_);
}

void InputBuffer::Touch(SourceLine& s) {
  fw::Ref<fw::Date> now = fw::New<fw::Date>();
  s.deadline_->TotalSeconds(now->TotalSeconds() + 10.0);
}

void InputBuffer::LinesTaken(std::uint64_t count) {
  const std::uint64_t first = linesOut_ + 1;
  linesOut_ += count;
  // A line taken moves the deadline of the lines behind it, as one taken by a tick does.
  for (SourceLine* s : open_)
    if (s->lastLine_ >= first) Touch(*s);
}

void InputBuffer::PutLines(SourceLine& s, fw::String lines) {
  CutLongLines(lines, 0, false);
  text_.insert(text_.size() - OpenEndLength(), lines);
  linesIn_ += CountCRs(lines);
  s.lastLine_ = linesIn_;
}

void InputBuffer::Deliver(SourceLine& s, fw::String text) {
  Touch(s);
  const bool owner = OwnsOpenEnd(s);
  // A line end ends the line that was too long: the next one is reported anew.
  if (text.find(kCR) != fw::String::npos) s.reportedLong_ = false;
  if (!owner && EndsOpen(text_)) {
    // Another source's line stands at the end: this one's lines go in before
    // it, and its unfinished rest stays here.
    const std::size_t before = s.held_.size();
    s.held_ += text;
    const std::size_t cr = text.rfind(kCR);
    if (cr != fw::String::npos) {
      const std::size_t through = before + cr + 1;
      PutLines(s, s.held_.substr(0, through));
      s.held_.erase(0, through);
    }
    if (!s.held_.empty()) List(s);
    else Unlist(s);
  } else {
    // The end is this source's or free: appended as for a source on its own.
    if (!owner && !s.held_.empty()) {
      text.insert(0, s.held_);
      fw::String().swap(s.held_);
    }
    CutLongLines(text, owner ? openEndLength_ : 0, false);
    const std::size_t lines = CountCRs(text);
    const std::size_t cr = lines ? text.rfind(kCR) : fw::String::npos;
    const std::size_t open = cr == fw::String::npos ? (owner ? openEndLength_ : 0) + text.size() : text.size() - cr - 1;
    // Appended in place: a flood must not copy the whole buffer on every
    // delivery. An empty buffer takes the delivery itself, and lets go of any
    // storage it still had.
    if (text_.empty()) text_.swap(text);
    else text_ += text;
    linesIn_ += lines;
    if (lines) s.lastLine_ = linesIn_;
    if (open > 0) {
      openEndOwner_ = &s;
      openEndLength_ = open;
      List(s);
    } else if (owner) {
      openEndOwner_ = nullptr;
      openEndLength_ = 0;
      Unlist(s);
    } else if (s.held_.empty()) {
      Unlist(s);
    }
  }
  CutLongLine(s);
  Promote();
}

void InputBuffer::Append(fw::String text) {
  if (text.empty()) return;
  if (openEndOwner_) {
    if (text.back() != kCR) text += kCR;
    CutLongLines(text, 0, false);
    text_.insert(text_.size() - openEndLength_, text);
  } else {
    CutLongLines(text, OpenEndLength(), true);
    text_ += text;
  }
  linesIn_ += CountCRs(text);
}

void InputBuffer::End(SourceLine& s) {
  if (OwnsOpenEnd(s)) {
    CloseOpenEnd();
  } else if (!s.held_.empty()) {
    PutLines(s, s.held_ + kCR);
    Unlist(s);
  } else if (s.buffer_) {
    Unlist(s);
  }
  Promote();
  Arm();
}

void InputBuffer::EndAll() {
  std::vector<SourceLine*> waiting = open_;
  std::stable_sort(waiting.begin(), waiting.end(),
                   [](SourceLine* a, SourceLine* b) { return Later(*b->deadline_, *a->deadline_); });
  for (SourceLine* s : waiting) End(*s);
}

void InputBuffer::CloseExpired() {
  Promote();
  fw::Ref<fw::Date> now = fw::New<fw::Date>();
  std::vector<SourceLine*> due;
  bool heldDue = false;
  for (SourceLine* s : open_) {
    if (!Later(*now, *s->deadline_)) continue;
    due.push_back(s);
    if (!OwnsOpenEnd(*s)) heldDue = true;
  }
  if (due.empty()) return;
  std::stable_sort(due.begin(), due.end(),
                   [](SourceLine* a, SourceLine* b) { return Later(*b->deadline_, *a->deadline_); });
  for (SourceLine* s : due) {
    if (OwnsOpenEnd(*s)) {
      // Alone in the buffer it is the splitter's to write whole; behind other
      // lines it must not wait for those that arrive after it.
      if (text_.size() > openEndLength_ || heldDue) CloseOpenEnd();
    } else if (!s->held_.empty()) {
      PutLines(*s, s->held_ + kCR);
      Unlist(*s);
    }
  }
  Promote();
}

bool InputBuffer::OpenEndExpired(const fw::Date& now) const {
  return openEndOwner_ && Later(now, *openEndOwner_->deadline_);
}

void InputBuffer::TakeLine() {
  const std::size_t cr = text_.find(kCR);
  if (cr == fw::String::npos) return;
  // Swapped in, not assigned: a short rest copied into the old storage
  // would keep all of its capacity.
  fw::String rest = text_.substr(cr + 1);
  text_.swap(rest);
  LinesTaken(1);
}

void InputBuffer::TakeAll() {
  fw::String().swap(text_);  // an emptied flood must not stay resident
  if (SourceLine* s = openEndOwner_) {
    openEndOwner_ = nullptr;
    openEndLength_ = 0;
    Unlist(*s);
  }
  linesOut_ = linesIn_;
}

void InputBuffer::CloseOpenEnd() {
  if (!EndsOpen(text_)) return;
  text_ += kCR;
  ++linesIn_;
  if (SourceLine* s = openEndOwner_) {
    s->lastLine_ = linesIn_;
    openEndOwner_ = nullptr;
    openEndLength_ = 0;
    Unlist(*s);
  }
  Promote();
}

int InputBuffer::WriteEveryRecord(const fw::String& where) {
  EndAll();
  if (text_.empty() || !app_.regularTimer) return 0;
  const bool endsWithLineEnd = text_.back() == kCR;
  const std::vector<fw::String> records = SplitRecords(text_);
  // The run is ending: a record that is not written is reported with its
  // exact bytes, so that it can still be recovered, and does not stop the others.
  const std::vector<bool> written = WriteCallFiles(
      *app_.regularTimer, std::vector<std::string_view>(records.begin(), records.end()), false,
      [&](std::size_t i, const std::exception& e) {
        fw::ReportUnsavedText("call record not written", e.what(), records[i], where);
      });
  int count = 0;
  fw::String rest;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (written[i]) {
      ++count;
      continue;
    }
    rest += records[i];
    if (i + 1 < records.size() || endsWithLineEnd) rest += kCR;
  }
  text_.swap(rest);
  linesOut_ = linesIn_ - CountCRs(text_);
  return count;
}

void InputBuffer::Promote() {
  if (EndsOpen(text_)) return;
  for (SourceLine* s : open_) {
    if (s->held_.empty()) continue;
    openEndOwner_ = s;
    openEndLength_ = s->held_.size();
    if (text_.empty()) text_.swap(s->held_);
    else text_ += s->held_;
    fw::String().swap(s->held_);
    return;
  }
}

void InputBuffer::CutLongLine(SourceLine& s) {
  const std::size_t length = LineLength(s);
  if (length <= kLongestLine) return;
  if (!s.reportedLong_) {
    const fw::String bytes = std::to_string(kLongestLine);
    fw::ReportFailure("a line of more than " + bytes + " bytes without a line end arrived on " + s.name_ +
                      "; no call record is that long, so it is written as call files of " + bytes +
                      " bytes each, in order, as it arrives");
    s.reportedLong_ = true;
  }
  // Its own earlier lines still waiting in the buffer go first, and all of
  // them go with its pieces in one batch: written one by one, each synced and
  // listed, thousands of them would hold up every input for seconds.
  std::vector<std::string_view> records;
  std::size_t front = 0;    // bytes at the front through the last line of s
  std::uint64_t lines = 0;  // the CRs among them
  while (linesOut_ + lines < s.lastLine_) {
    const std::size_t cr = text_.find(kCR, front);
    if (cr == fw::String::npos) break;
    if (cr > front) records.emplace_back(text_.data() + front, cr - front);
    front = cr + 1;
    ++lines;
  }
  const std::size_t waiting = records.size();
  const std::size_t pieces = (length - 1) / kLongestLine;  // the rest, at most kLongestLine, stays open
  const fw::String& line = OwnsOpenEnd(s) ? text_ : s.held_;
  const std::size_t start = line.size() - length;
  for (std::size_t k = 0; k < pieces; ++k) records.emplace_back(line.data() + start + k * kLongestLine, kLongestLine);

  const std::vector<bool> written = app_.regularTimer->writeFiles(records);

  // What was not written waits in the buffer, each a record of its own, in its place.
  fw::String keptLines, keptPieces;
  std::uint64_t keptLineCount = 0, keptPieceCount = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (written[i]) continue;
    fw::String& kept = i < waiting ? keptLines : keptPieces;
    kept.append(records[i]);
    kept += kCR;
    ++(i < waiting ? keptLineCount : keptPieceCount);
  }
  text_.replace(0, front, keptLines);
  if (lines > keptLineCount) {
    app_.resetTimeout();
    LinesTaken(lines - keptLineCount);
  }
  if (OwnsOpenEnd(s)) {
    text_.replace(text_.size() - openEndLength_, pieces * kLongestLine, keptPieces);
    openEndLength_ -= pieces * kLongestLine;
    linesIn_ += keptPieceCount;
    if (keptPieceCount) s.lastLine_ = linesIn_;
  } else {
    s.held_.erase(0, pieces * kLongestLine);
    if (keptPieceCount) PutLines(s, std::move(keptPieces));
  }
  if (keptLineCount || keptPieceCount) Arm();
}

void InputBuffer::Arm() {
  if (app_.regularTimer && !text_.empty()) app_.regularTimer->Mode(1);
}

}  // namespace capture
