#pragma once
// Whole files read and written as the tests need them.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace tptest {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path);
// False when the file could not be written whole.
bool WriteFile(const std::string& path, const std::string& content);
// The file's lines without their line ends.
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace tptest
