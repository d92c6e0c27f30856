#pragma once
// The call files of a folder as the program wrote them, read from outside.
#include <ctime>
#include <string>
#include <vector>


namespace tptest {

struct CallFile {
  std::string name;
  std::string stamp;  // YYYYMMDDhhmmss
  long counter = -1;  // the number after it
  std::string content;
  double mtime = 0;   // seconds since the epoch
};

struct CallFolder {
  std::vector<CallFile> files;      // in writing order: by stamp, then counter
  std::vector<std::string> strays;  // anything else in the folder, sorted
};

CallFolder ReadCallFolder(const std::string& dir, bool withContent = true);
// The call files alone, and the names of every other entry in strays.
std::vector<CallFile> ReadCalls(const std::string& dir, std::vector<std::string>* strays = nullptr);
std::vector<std::string> Contents(const std::vector<CallFile>& calls);
size_t CountCalls(const std::string& dir);

// The stamp the program gives a file written at t (local time).
std::string StampAt(time_t t);

}  // namespace tptest
