#pragma once
// Call files: one plain-text file per record in the "Calls" folder.
#include <exception>
#include <functional>
#include <string_view>
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

// Told of each record of a batch that was not written, and why.
using RecordFailed = std::function<void(std::size_t record, const std::exception& why)>;

// Writes records as call files together, for a backlog that must go at once:
// each to its temporary as it comes, then one sync for them all, and only
// then each under its name (see fw::SyncBatch). The list is not rebuilt.
// Each record not written goes to failed; with stopAtFirst, the first one
// whose file cannot be made ends the batch and those after it are not tried.
// A folder that cannot be synced after its files took their names is said
// on standard error; those files count as written. Returns whether each
// record was written.
std::vector<bool> WriteCallFiles(secondTimer& writer, const std::vector<std::string_view>& records, bool stopAtFirst,
                                 const RecordFailed& failed);

// At start-up, before any input: the records that a copy of the program
// ended without warning had written whole, but not yet named, become call
// files under the writer's name rule, in the order they were written; one
// it was still writing is reported with its exact bytes, as a record not
// written. Returns how many call files were made.
int FinishLeftoverCallFiles(fw::FolderItem& calls, const fw::String& where);

}  // namespace capture
