#pragma once
// Byte streams of call records: what the program should make of them, how
// they may be cut into deliveries, and how to show them in a message.
#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tptest {

// What the program should make of a byte stream: LF taken as CR, NULs gone,
// split at CR, empty records dropped. Where the stream was cut into
// deliveries does not change this.
std::vector<std::string> ExpectedRecords(std::string_view input, bool withTail = true);

// Cuts data into deliveries of random sizes, some of one byte.
std::vector<std::string> RandomSplits(const std::string& data, std::mt19937_64& rng, size_t maxPiece);

// s with its control and high bytes escaped, cut after max bytes.
std::string Printable(std::string_view s, size_t max = 80);

}  // namespace tptest
