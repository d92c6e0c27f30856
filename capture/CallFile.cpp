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

fw::String WriteCallFile(secondTimer& writer, const fw::String& s) {
  fw::Ref<fw::Date> now = fw::New<fw::Date>();
  fw::String stamp = CallFileStamp(*now);
  // The counter moves before the file is made, also when making it fails.
  if (fw::StrEqual(stamp, writer.lastFileName)) {
    writer.suffix = writer.suffix + 1;
  } else {
    writer.lastFileName = stamp;
    writer.suffix = 0;
  }
  for (;;) {
    fw::String name = stamp + fw::Str(writer.suffix) + ".txt";
    fw::Ref<fw::FolderItem> item = App()->pref_path->Child(name);
    // A stamp repeats after a restart within the same second or when the clock
    // is set back; the older call file is a billing record and must stay.
    while (item->Exists()) {
      writer.suffix = writer.suffix + 1;
      name = stamp + fw::Str(writer.suffix) + ".txt";
      item = App()->pref_path->Child(name);
    }
    fw::Ref<fw::TextOutputStream> stream = item->CreateTextFile();
    // Still the nil-object failure, but one that says which file could not be made.
    if (!stream) throw fw::NilObjectException("cannot create call file " + item->NativePath());
    stream->NeverReplace();
    stream->Write(s);
    try {
      stream->Close();
      return name;
    } catch (const fw::NameTakenException&) {
      // Another copy of the program on the same folder took the name first.
      writer.suffix = writer.suffix + 1;
    }
  }
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
  std::vector<std::size_t> published;
  // The run is ending: a record that is not written is reported with its
  // exact bytes, so that it can still be recovered, and does not stop the others.
  auto keep = [&](std::size_t i, const std::exception& e) {
    fw::ReportUnsavedText("call record not written", e.what(), records[i], where);
    kept[i] = true;
  };
  {
    // One sync for the whole backlog instead of two per file.
    fw::SyncBatch batch;
    for (std::size_t i = 0; i < records.size(); ++i) {
      try {
        WriteCallFile(writer, records[i]);
        published.push_back(i);
      } catch (const std::exception& e) {
        keep(i, e);
      }
    }
    try {
      batch.Commit();
    } catch (const std::exception& e) {
      for (std::size_t i : published) keep(i, e);
      published.clear();
    }
  }
  fw::String rest;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (!kept[i]) continue;
    rest += records[i];
    if (i + 1 < records.size() || endsWithLineEnd) rest += fw::Chr(13);
  }
  buffer = rest;
  return static_cast<int>(published.size());
}

}  // namespace capture
