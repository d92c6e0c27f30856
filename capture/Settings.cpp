#include "capture/Settings.h"

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

bool ReadSettings(const fw::Ref<fw::FolderItem>& file, Settings& s) {
  if (!file->Exists()) return false;
  fw::Ref<fw::TextInputStream> in = file->OpenAsTextFile();
  // Unreadable (a folder of that name, no permission): start with what we have
  // rather than abort start-up before the ports are open.
  if (!in) return false;
  while (!in->EndOfFile()) ApplySettingsLine(in->ReadLine(), s);
  in->Close();
  return true;
}

void WriteSettings(const fw::Ref<fw::FolderItem>& file, const Settings& s) {
  fw::Ref<fw::FolderItem> folder = file->Parent();
  // A fresh account may have no Preferences folder yet.
  if (folder && !folder->Exists()) folder->CreateAsFolder();
  fw::Ref<fw::TextOutputStream> out = file->CreateTextFile();
  if (!out) throw fw::IOException("cannot create settings file " + file->NativePath());
  out->WriteLine("port" + fw::Chr(9) + s.port);
  out->WriteLine("baud" + fw::Chr(9) + fw::Str(s.baud));
  out->WriteLine("parity" + fw::Chr(9) + fw::Str(s.parity));
  out->WriteLine("stop" + fw::Chr(9) + fw::Str(s.stop));
  out->WriteLine("bits" + fw::Chr(9) + fw::Str(s.bits));
  out->Close();
}

}  // namespace capture
