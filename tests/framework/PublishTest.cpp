// Close puts a file in place without ever taking the place of an item that
// appeared after the file was created: a second copy of the program writing
// into the same folder must not lose its file to ours.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/FolderItem.h"
#include "framework/TextOutputStream.h"
#include "support/TestEnvironment.h"

using namespace fw;
using tptest::ReadFile;
using tptest::TempDir;
using tptest::WriteFile;

namespace {

struct PublishRow {
  const char* name;
  const char* atCreation;  // content of the item when CreateTextFile is called; null: none
  const char* meanwhile;   // written by someone else before Close; null: nothing
  bool neverReplace;
  const char* after;       // the item after Close
};

void PrintTo(const PublishRow& row, std::ostream* os) { *os << row.name; }

class Publish : public ::testing::TestWithParam<PublishRow> {};

TEST_P(Publish, OnlyAnItemThatWasThereAtCreationIsReplaced) {
  const PublishRow& row = GetParam();
  TempDir tmp;
  const std::string target = tmp / "item.txt";
  if (row.atCreation) WriteFile(target, row.atCreation);
  auto out = FolderItem::FromPath(target)->CreateTextFile();
  ASSERT_FALSE(out.IsNil());
  if (row.neverReplace) out->NeverReplace();
  out->Write("ours");
  if (row.meanwhile) WriteFile(target, row.meanwhile);
  if (std::string(row.after) == "ours") {
    EXPECT_NO_THROW(out->Close());
  } else {
    EXPECT_THROW(out->Close(), NameTakenException);
  }
  EXPECT_EQ(ReadFile(target), row.after);
  size_t entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(tmp.path())) ++entries;
  EXPECT_EQ(entries, 1u) << "a temporary was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Publish,
    ::testing::Values(PublishRow{"NewFile", nullptr, nullptr, false, "ours"},
                      PublishRow{"SettingsRewritten", "old", nullptr, false, "ours"},
                      PublishRow{"ReplacedMeanwhileStillOurs", "old", "changed", false, "ours"},
                      PublishRow{"AppearedMeanwhileIsKept", nullptr, "theirs", false, "theirs"},
                      PublishRow{"NeverReplaceKeepsAnOldItem", "old", nullptr, true, "old"},
                      PublishRow{"NeverReplaceKeepsANewItem", nullptr, "theirs", true, "theirs"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
