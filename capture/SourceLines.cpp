#include "capture/SourceLines.h"

#include <algorithm>
#include <cstdio>

#include "capture/App.h"
#include "capture/secondTimer.h"
#include "framework/Event.h"

namespace capture {

namespace {

constexpr char kCR = '\r';

std::size_t CountCRs(const fw::String& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), kCR)); }

bool EndsOpen(const fw::String& s) { return !s.empty() && s.back() != kCR; }

bool Later(const fw::Date& a, const fw::Date& b) { return a.Compare(b) > 0; }

}  // namespace

// ---- SourceLine ----

SourceLine::SourceLine(const char* name) : name_(name), deadline_(fw::New<fw::Date>()) {}

SourceLine::~SourceLine() { End(); }

void SourceLine::End() {
  if (merge_) merge_->End(*this);
}

// ---- LineMerge ----

LineMerge::~LineMerge() {
  for (SourceLine* s : open_) s->merge_ = nullptr;
}

void LineMerge::Sync() {
  fw::String& buf = app_.buffer;
  if (openEndOwner_ && !OwnsOpenEnd(*openEndOwner_)) {
    // Its line was written whole, or the buffer was emptied.
    SourceLine* gone = openEndOwner_;
    openEndOwner_ = nullptr;
    openEndLength_ = 0;
    if (gone->held_.empty()) Unlist(*gone);
  }
  if (buf.empty()) linesOut_ = linesIn_;
}

bool LineMerge::OwnsOpenEnd(const SourceLine& s) const {
  const fw::String& buf = app_.buffer;
  const std::size_t n = openEndLength_;
  return openEndOwner_ == &s && n > 0 && buf.size() >= n && buf.back() != kCR &&
         (buf.size() == n || buf[buf.size() - n - 1] == kCR);
}

std::size_t LineMerge::OpenEndLength() {
  const fw::String& buf = app_.buffer;
  if (!EndsOpen(buf)) return 0;
  if (openEndOwner_) return openEndLength_;
  // Text that no source put there: it ends at the last CR all the same.
  const std::size_t cr = buf.rfind(kCR);
  return cr == fw::String::npos ? buf.size() : buf.size() - cr - 1;
}

void LineMerge::List(SourceLine& s) {
  if (s.merge_) return;
  s.merge_ = this;
  open_.push_back(&s);
}

void LineMerge::Unlist(SourceLine& s) {
  open_.erase(std::remove(open_.begin(), open_.end(), &s), open_.end());
  s.merge_ = nullptr;
  s.reportedLong_ = false;
  fw::String().swap(s.held_);
}

void LineMerge::Touch(SourceLine& s) {
  fw::Ref<fw::Date> now = fw::New<fw::Date>();
  s.deadline_->TotalSeconds(now->TotalSeconds() + 10.0);
}

void LineMerge::PutLines(SourceLine& s, const fw::String& lines) {
  fw::String& buf = app_.buffer;
  buf.insert(buf.size() - OpenEndLength(), lines);
  linesIn_ += CountCRs(lines);
  s.lastLine_ = linesIn_;
}

void LineMerge::Deliver(SourceLine& s, fw::String text) {
  Sync();
  Touch(s);
  fw::String& buf = app_.buffer;
  const bool owner = OwnsOpenEnd(s);
  // A line end ends the line that was too long: the next one is reported anew.
  if (text.find(kCR) != fw::String::npos) s.reportedLong_ = false;
  if (!owner && EndsOpen(buf)) {
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
    const std::size_t lines = CountCRs(text);
    const std::size_t cr = lines ? text.rfind(kCR) : fw::String::npos;
    const std::size_t open = cr == fw::String::npos ? (owner ? openEndLength_ : 0) + text.size() : text.size() - cr - 1;
    // Appended in place: a flood must not copy the whole buffer on every
    // delivery. An empty buffer takes the delivery itself, and lets go of any
    // storage it still had.
    if (buf.empty()) buf.swap(text);
    else buf += text;
    linesIn_ += lines;
    if (lines) s.lastLine_ = linesIn_;
    if (open > 0) {
      openEndOwner_ = &s;
      openEndLength_ = open;
      List(s);
    } else if (owner || openEndOwner_ == &s) {
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

void LineMerge::End(SourceLine& s) {
  Sync();
  if (OwnsOpenEnd(s)) {
    CloseOpenEnd();
  } else if (!s.held_.empty()) {
    PutLines(s, s.held_ + kCR);
    Unlist(s);
  } else if (s.merge_) {
    Unlist(s);
  }
  Promote();
  Arm();
}

void LineMerge::EndAll() {
  Sync();
  std::vector<SourceLine*> waiting = open_;
  std::stable_sort(waiting.begin(), waiting.end(),
                   [](SourceLine* a, SourceLine* b) { return Later(*b->deadline_, *a->deadline_); });
  for (SourceLine* s : waiting) End(*s);
}

void LineMerge::CloseExpired() {
  Sync();
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
      if (app_.buffer.size() > openEndLength_ || heldDue) CloseOpenEnd();
    } else if (!s->held_.empty()) {
      PutLines(*s, s->held_ + kCR);
      Unlist(*s);
    }
  }
  Promote();
}

bool LineMerge::OpenEndExpired(const fw::Date& now) {
  Sync();
  return openEndOwner_ && Later(now, *openEndOwner_->deadline_);
}

void LineMerge::CloseOpenEnd() {
  Sync();
  fw::String& buf = app_.buffer;
  if (!EndsOpen(buf)) return;
  buf += kCR;
  ++linesIn_;
  if (SourceLine* s = openEndOwner_) {
    s->lastLine_ = linesIn_;
    openEndOwner_ = nullptr;
    openEndLength_ = 0;
    Unlist(*s);
  }
  Promote();
}

void LineMerge::LineTaken() {
  if (linesOut_ < linesIn_) ++linesOut_;
  Sync();
  for (SourceLine* s : open_)
    if (s->lastLine_ >= linesOut_) Touch(*s);
}

void LineMerge::Promote() {
  fw::String& buf = app_.buffer;
  if (EndsOpen(buf)) return;
  for (SourceLine* s : open_) {
    if (s->held_.empty()) continue;
    openEndOwner_ = s;
    openEndLength_ = s->held_.size();
    if (buf.empty()) buf.swap(s->held_);
    else buf += s->held_;
    fw::String().swap(s->held_);
    return;
  }
}

void LineMerge::CutLongLine(SourceLine& s) {
  fw::String& buf = app_.buffer;
  for (;;) {
    if ((OwnsOpenEnd(s) ? openEndLength_ : s.held_.size()) <= kLongestLine) return;
    if (!s.reportedLong_) {
      std::fprintf(stderr,
                   "TallyPoint: a line of more than %zu bytes without a line end arrived on %s; no call record is "
                   "that long, so it is written as call files of %zu bytes each, in order, as it arrives\n",
                   kLongestLine, s.name_, kLongestLine);
      std::fflush(stderr);
      s.reportedLong_ = true;
    }
    // Its own earlier lines still waiting in the buffer go first.
    const bool written = WriteLinesThrough(s.lastLine_) && [&] {
      const bool atEnd = OwnsOpenEnd(s);
      fw::String& from = atEnd ? buf : s.held_;
      const std::size_t start = atEnd ? buf.size() - openEndLength_ : 0;
      if (!WriteNow(from.substr(start, kLongestLine))) return false;
      from.erase(start, kLongestLine);
      if (atEnd) openEndLength_ -= kLongestLine;
      return true;
    }();
    if (written) continue;
    // Not written now: the piece waits in the buffer as a record of its own.
    if (OwnsOpenEnd(s)) {
      buf.insert(buf.size() - openEndLength_ + kLongestLine, 1, kCR);
      openEndLength_ -= kLongestLine;
      s.lastLine_ = ++linesIn_;
    } else {
      fw::String piece = s.held_.substr(0, kLongestLine);
      s.held_.erase(0, kLongestLine);
      piece += kCR;
      PutLines(s, piece);
    }
    Arm();
  }
}

bool LineMerge::WriteLinesThrough(std::uint64_t last) {
  fw::String& buf = app_.buffer;
  std::size_t taken = 0;  // bytes at the front already written, cut once at the end
  bool ok = true;
  while (linesOut_ < last) {
    const std::size_t cr = buf.find(kCR, taken);
    if (cr == fw::String::npos) {
      linesOut_ = last;
      break;
    }
    if (cr > taken && !WriteNow(buf.substr(taken, cr - taken))) {
      ok = false;
      break;
    }
    taken = cr + 1;
    app_.resetTimeout();
    LineTaken();
  }
  buf.erase(0, taken);
  return ok;
}

bool LineMerge::WriteNow(const fw::String& record) {
  try {
    app_.regularTimer->writeFile(record);
    return true;
  } catch (const std::exception& e) {
    fw::RuntimeUnhandledException(e, "secondTimer.writeFile");
    return false;
  }
}

void LineMerge::Arm() {
  if (app_.regularTimer && !app_.buffer.empty()) app_.regularTimer->Mode(1);
}

}  // namespace capture
