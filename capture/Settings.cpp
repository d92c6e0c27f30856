#include "capture/Settings.h"

#include "framework/Event.h"
#include "framework/Strings.h"
#include "framework/TextInputStream.h"
#include "framework/TextOutputStream.h"

namespace capture {

fw::Ref<fw::FolderItem> SettingsFile() { return fw::SpecialFolder::Preferences()->Child("lineKeeper.prefs"); }

void ApplySettingsLine(const fw::String& line, Settings& s) {
  fw::String key = fw::NthField(line, fw::Chr(9), 1);
  fw::String value = fw::NthField(line, fw::Chr(9), 2);
  if (fw::StrEqual(key, "port")) {
    s.port = value;
  } else if (fw::StrEqual(key, "baud")) {
    s.baud = fw::ToInt32(fw::Val(value));
  } else if (fw::StrEqual(key, "parity")) {
    s.parity = fw::ToInt32(fw::Val(value));
  } else if (fw::StrEqual(key, "stop")) {
    s.stop = fw::ToInt32(fw::Val(value));
  } else if (fw::StrEqual(key, "bits")) {
    s.bits = fw::ToInt32(fw::Val(value));
  }
}

namespace {

// Far beyond any real settings file. A longer one is not read at all: a link
// to an endless device or a runaway file must not hold up start-up.
constexpr std::int64_t kSettingsMax = 64 * 1024;

void ReportUnread(const fw::Ref<fw::FolderItem>& file, const fw::String& why) {
  fw::RuntimeUnhandledException(
      fw::IOException("settings file " + file->NativePath() + " not read (" + why + "); the settings keep their values"),
      "reading settings");
}

}  // namespace

bool ReadSettings(const fw::Ref<fw::FolderItem>& file, Settings& s) {
  if (!file->Exists()) return false;
  if (file->Length() > kSettingsMax) {
    ReportUnread(file, "longer than " + fw::Str(kSettingsMax / 1024) + " KiB");
    return false;
  }
  // Only a regular file opens, and without waiting (a FIFO, a device).
  // Unreadable: start with what we have rather than abort start-up before
  // the ports are open.
  fw::Ref<fw::TextInputStream> in = file->OpenAsTextFile();
  if (!in) {
    ReportUnread(file, "not a regular file that can be opened");
    return false;
  }
  // Read into a copy and counted: a file that grew after it was measured is
  // dropped whole, not half applied.
  Settings read = s;
  std::int64_t bytes = 0;
  while (!in->EndOfFile()) {
    fw::String line = in->ReadLine();
    bytes += static_cast<std::int64_t>(line.size()) + 1;
    if (bytes > kSettingsMax) {
      in->Close();
      ReportUnread(file, "longer than " + fw::Str(kSettingsMax / 1024) + " KiB");
      return false;
    }
    ApplySettingsLine(line, read);
  }
  in->Close();
  s = read;
  return true;
}

void WriteSettings(const fw::Ref<fw::FolderItem>& file, const Settings& s) {
  fw::Ref<fw::FolderItem> folder = file->Parent();
  // A fresh account may have no Preferences folder yet.
  if (folder && !folder->Exists()) folder->CreateAsFolder();
  fw::String why;
  fw::Ref<fw::TextOutputStream> out = file->CreateTextFile(&why);
  if (!out) throw fw::IOException("cannot create settings file " + file->NativePath() + ": " + why);
  out->WriteLine("port" + fw::Chr(9) + s.port);
  out->WriteLine("baud" + fw::Chr(9) + fw::Str(s.baud));
  out->WriteLine("parity" + fw::Chr(9) + fw::Str(s.parity));
  out->WriteLine("stop" + fw::Chr(9) + fw::Str(s.stop));
  out->WriteLine("bits" + fw::Chr(9) + fw::Str(s.bits));
  out->Close();
}

}  // namespace capture
