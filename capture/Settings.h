#pragma once
// The serial settings and their file "lineKeeper.prefs": one line per
// setting, key TAB value, ended by LF.
#include "framework/FolderItem.h"

namespace capture {

struct Settings {
  fw::String port;
  fw::Int32 baud = 4;
  fw::Int32 parity = 0;
  fw::Int32 stop = 0;
  fw::Int32 bits = 3;
  friend bool operator==(const Settings&, const Settings&) = default;
};

// "lineKeeper.prefs" in the Preferences folder.
fw::Ref<fw::FolderItem> SettingsFile();

// Applies one line of the file; unknown keys and empty lines change nothing.
void ApplySettingsLine(const fw::String& line, Settings& s);

// Applies every line of file to s. A missing file, or one that cannot be
// opened or is larger than 64 KiB, leaves s as it was (the last two are
// reported on standard error). Returns whether the file was read.
bool ReadSettings(const fw::Ref<fw::FolderItem>& file, Settings& s);

// Writes the five lines: port, baud, parity, stop, bits. Raises IOException
// when the file cannot be made or committed; the old file then stays.
void WriteSettings(const fw::Ref<fw::FolderItem>& file, const Settings& s);

}  // namespace capture
