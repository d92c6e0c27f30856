#include "capture/CallFile.h"

#include "capture/App.h"
#include "capture/secondTimer.h"
#include "framework/FolderItem.h"
#include "framework/Strings.h"
#include "framework/TextOutputStream.h"

namespace capture {

fw::String CallFileStamp(const fw::Date& d) {
  return fw::Str(d.Year()) + fw::Format(d.Month(), "00") + fw::Format(d.Day(), "00") + fw::Format(d.Hour(), "00") +
         fw::Format(d.Minute(), "00") + fw::Format(d.Second(), "00");
}

namespace {

// The next name under the stamp and counter of the most recent one, as the
// time of writing gives it. The counter moves before the file is made, also
// when making it fails.
fw::String NextFreeName(fw::String& lastFileName, fw::Int32& suffix) {
  fw::Ref<fw::Date> now = fw::New<fw::Date>();
  fw::String stamp = CallFileStamp(*now);
  if (fw::StrEqual(stamp, lastFileName)) {
    suffix = suffix + 1;
  } else {
    lastFileName = stamp;
    suffix = 0;
  }
  fw::String name = stamp + fw::Str(suffix) + ".txt";
  // A stamp repeats after a restart within the same second or when the clock
  // is set back; the older call file is a billing record and must stay.
  while (App()->pref_path->Child(name)->Exists()) {
    suffix = suffix + 1;
    name = stamp + fw::Str(suffix) + ".txt";
  }
  return name;
}

fw::String NextFreeName(secondTimer& writer) { return NextFreeName(writer.lastFileName, writer.suffix); }

// Writes s as a call file and closes it: in place when this returns, or,
// given a batch, once the batch commits.
fw::Ref<fw::TextOutputStream> CloseCallFile(secondTimer& writer, const fw::String& s, fw::SyncBatch* batch) {
  fw::Ref<fw::FolderItem> item = App()->pref_path->Child(NextFreeName(writer));
  fw::Ref<fw::TextOutputStream> stream = item->CreateTextFile();
  // Still the nil-object failure, but one that says which file could not be made.
  if (!stream) throw fw::NilObjectException("cannot create call file " + item->NativePath());
  stream->NeverReplace();
  // Another copy of the program on the same folder may take the name first,
  // also while a batch holds the file back: the counter moves on.
  stream->OnNameTaken([&writer] { return NextFreeName(writer); });
  stream->Write(s);
  if (batch) stream->Close(*batch);
  else stream->Close();
  return stream;
}

}  // namespace

fw::String WriteCallFile(secondTimer& writer, const fw::String& s, fw::SyncBatch* batch) {
  return CloseCallFile(writer, s, batch)->Name();
}

std::vector<fw::String> SplitRecords(const fw::String& buffer) {
  // One pass over the buffer: a backlog can hold thousands of records.
  std::vector<fw::String> records;
  std::size_t start = 0;
  for (std::size_t cr = buffer.find('\r'); cr != fw::String::npos; cr = buffer.find('\r', start)) {
    if (cr > start) records.push_back(buffer.substr(start, cr - start));
    start = cr + 1;
  }
  if (start < buffer.size()) records.push_back(buffer.substr(start));
  return records;
}

int WriteEveryRecord(secondTimer& writer, fw::String& buffer, const fw::String& where) {
  const bool endsWithLineEnd = !buffer.empty() && buffer.back() == '\r';
  std::vector<fw::String> records = SplitRecords(buffer);
  std::vector<bool> kept(records.size(), false);
  // The run is ending: a record that is not written is reported with its
  // exact bytes, so that it can still be recovered, and does not stop the others.
  auto keep = [&](std::size_t i, const fw::String& why) {
    fw::ReportUnsavedText("call record not written", why, records[i], where);
    kept[i] = true;
  };
  std::vector<std::pair<std::size_t, fw::Ref<fw::TextOutputStream>>> held;
  held.reserve(records.size());
  {
    // One sync for the whole backlog instead of two per file; no file takes
    // its call-file name before its bytes are durable.
    fw::SyncBatch batch;
    for (std::size_t i = 0; i < records.size(); ++i) {
      try {
        held.emplace_back(i, CloseCallFile(writer, records[i], &batch));
      } catch (const std::exception& e) {
        keep(i, e.what());
      }
    }
    // A folder that cannot be synced after is said by Commit; the files are
    // durable and in place, so their records count as written.
    batch.Commit();
  }
  int written = 0;
  for (auto& [i, file] : held) {
    if (file->Published()) {
      ++written;
    } else {
      keep(i, file->Failure());
    }
  }
  fw::String rest;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (!kept[i]) continue;
    rest += records[i];
    if (i + 1 < records.size() || endsWithLineEnd) rest += fw::Chr(13);
  }
  buffer = rest;
  return written;
}

int FinishLeftoverCallFiles(fw::FolderItem& calls, const fw::String& where) {
  // Named as the writer names them, from a stamp and counter of their own:
  // the timer's first name after them skips what they took.
  fw::String lastFileName;
  fw::Int32 suffix = 0;
  return calls.FinishLeftovers([&] { return NextFreeName(lastFileName, suffix); },
                               [&](const fw::String& text, const fw::String& why) {
                                 fw::ReportUnsavedText("call record not written", why, text, where);
                               });
}

}  // namespace capture
