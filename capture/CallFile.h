#pragma once
// Call files: one plain-text file per record in the "Calls" folder.
#include <vector>

#include "framework/Date.h"
#include "framework/FolderItem.h"
#include "framework/TextOutputStream.h"

class secondTimer;

namespace capture {

// The date-and-time part of a call file's name: the year in plain decimal,
// then month, day, hour, minute and second as two digits each.
fw::String CallFileStamp(const fw::Date& d);

// Writes s as a new call file under the writer's stamp and counter, without
// a line end, and returns its name. A name already taken is never replaced,
// also when another copy of the program takes it while the file is written:
// the counter rises until the name is free. Raises when the file cannot be
// made or committed. Given a batch, the file is only written to its
// temporary and takes its name when the batch commits; the writer must
// outlive the batch.
fw::String WriteCallFile(secondTimer& writer, const fw::String& s, fw::SyncBatch* batch = nullptr);

// The records that the ticks would take from buffer, in order: the text
// before each CR, empty ones dropped, and the text after the last CR.
std::vector<fw::String> SplitRecords(const fw::String& buffer);

// At start-up, before any input: the records that a copy of the program
// ended without warning had written whole, but not yet named, become call
// files under the writer's name rule, in the order they were written; one
// it was still writing is reported with its exact bytes, as a record not
// written. Returns how many call files were made.
int FinishLeftoverCallFiles(fw::FolderItem& calls, const fw::String& where);

// Writes every record in buffer as its own call file, at once, for the end of
// a run: durable together first, then each under its name. A record that cannot be written (or
// whose file may not be durable) is reported with its exact bytes, kept in
// the buffer, and does not stop the others. Returns how many were written.
int WriteEveryRecord(secondTimer& writer, fw::String& buffer, const fw::String& where);

}  // namespace capture
