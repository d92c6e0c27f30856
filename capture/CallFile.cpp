#include "capture/CallFile.h"

#include "capture/App.h"
#include "capture/secondTimer.h"
#include "framework/Event.h"
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
  // is set back; the older call file is a billing record and must stay (the
  // file never replaces it; skipping its name here keeps the names in order).
  while (App()->pref_path->HasChild(name)) {
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
  fw::String why;
  fw::Ref<fw::TextOutputStream> stream = item->CreateTextFile(&why);
  // Still the nil-object failure, but one that says which file could not be made and why.
  if (!stream) throw fw::NilObjectException("cannot create call file " + item->NativePath() + ": " + why);
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

std::vector<bool> WriteCallFiles(secondTimer& writer, const std::vector<std::string_view>& records, bool stopAtFirst,
                                 const RecordFailed& failed) {
  std::vector<bool> written(records.size(), false);
  std::vector<std::pair<std::size_t, fw::Ref<fw::TextOutputStream>>> held;
  held.reserve(records.size());
  // One sync for them all instead of two per file; no file takes its
  // call-file name before its bytes are durable.
  fw::SyncBatch batch;
  for (std::size_t i = 0; i < records.size(); ++i) {
    try {
      fw::Ref<fw::TextOutputStream> file = CloseCallFile(writer, fw::String(records[i]), &batch);
      // One too big to hold back was synced and named on its own already.
      if (file->Published()) written[i] = true;
      else held.emplace_back(i, std::move(file));
    } catch (const std::exception& e) {
      failed(i, e);
      if (stopAtFirst) break;
    }
  }
  // A folder that cannot be synced after is said by Commit; the files are
  // durable and in place, so their records count as written.
  batch.Commit();
  for (auto& [i, file] : held) {
    if (file->Published()) written[i] = true;
    else failed(i, fw::IOException(file->Failure()));
  }
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
