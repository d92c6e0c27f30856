// A record that cannot be written as the run ends has its report as its only
// copy: the report must give back its exact bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "capture/App.h"
#include "support/InProcessProgram.h"
#include "support/StderrCapture.h"

namespace {

using tptest::StderrCapture;


// The record in a report line: after the first "): " that follows the
// message, with \\ and \xHH undone.
std::string Decode(const std::string& line) {
  const std::string lead = "call record not written (";
  size_t at = line.find(lead);
  if (at == std::string::npos) return "<no record report>";
  at = line.find("): ", at + lead.size());
  if (at == std::string::npos) return "<no record>";
  std::string out;
  for (size_t i = at + 3; i < line.size(); ++i) {
    if (line[i] != '\\') {
      out += line[i];
    } else if (i + 1 < line.size() && line[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (i + 3 < line.size() && line[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      return "<bad escape>";
    }
  }
  return out;
}

TEST(LostRecordReport, DecodesToTheRecordsExactBytes) {
  tptest::Program program;
  program.Start();
  std::filesystem::remove_all(program.callsDir());
  const std::vector<std::string> records = {
      "0155501 12:34 00:01:05 plain",
      "tab\there esc\x1b[0m bell\x07 del\x7f",
      "back\\slash \\x41 and \\\\ doubled",
      "caf\xE9 \xC3\xA9 \xFF high bytes",
      "paren): inside (x) ): at the end): ",
      " leading and trailing spaces ",
  };
  std::string buffer;
  for (auto& r : records) buffer += r + "\r";
  program.app()->input.Append(buffer);
  StderrCapture err;
  program.app()->Terminating.Raise();
  std::vector<std::string> decoded;
  for (auto& line : err.Lines()) decoded.push_back(Decode(line));
  EXPECT_EQ(decoded, records);
  EXPECT_EQ(program.app()->buffer(), buffer) << "records not written must stay in the buffer";
}

}  // namespace
