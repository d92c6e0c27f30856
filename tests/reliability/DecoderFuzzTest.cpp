// The two decoders that take bytes from outside the code: the property-block
// decoder and the settings reader. Random and mutated input must give either
// a clean result or a RuntimeException, never a crash, a hang or a sanitizer
// report, and a rejected block must leave its object as it was.

#include <gtest/gtest.h>

#include <climits>
#include <iostream>

#include "capture/Settings.h"
#include "framework/Listbox.h"
#include "framework/PropertyBlock.h"
#include "framework/StaticText.h"
#include "support/Records.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

// Fuzzed sizes make Qt warn about every clamped value; keep the log readable.
static const int kQuietQt = (setenv("QT_LOGGING_RULES", "default.warning=false", 0), 0);

namespace {

double Budget(double ciSeconds) {
  const char* env = getenv("TALLYPOINT_FUZZ_SECONDS");  // the long form: bench/README.md
  return env ? std::atof(env) : ciSeconds;
}

std::vector<const fw::PropertyInfo*> AllProperties(const fw::ClassRecord* rec) {
  std::vector<const fw::PropertyInfo*> out;
  for (; rec; rec = rec->super)
    for (const auto& p : rec->properties) out.push_back(&p);
  return out;
}

fw::Prop RandomProp(std::mt19937_64& rng, const fw::PropertyInfo& info) {
  const char* n = info.name.c_str();
  switch (info.type) {
    case fw::PropType::Int32: {
      static const fw::Int32 edges[] = {0, 1, -1, 30, 400, INT_MAX, INT_MIN, 65535, -65536};
      fw::Int32 v = rng() % 2 ? edges[rng() % 9] : static_cast<fw::Int32>(rng() % 2000) - 1000;
      return {n, v};
    }
    case fw::PropType::Boolean: return {n, rng() % 2 == 0};
    case fw::PropType::Color:
      return {n, fw::RGB(static_cast<int>(rng() % 256), static_cast<int>(rng() % 256), static_cast<int>(rng() % 256))};
    case fw::PropType::String: {
      std::string s(rng() % 4 == 0 ? rng() % 5000 : rng() % 40, '\0');
      for (auto& c : s) c = static_cast<char>(rng() % 256);
      return {n, s};
    }
  }
  return {n, 0};
}

void Mutate(std::mt19937_64& rng, std::string& b) {
  int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    switch (rng() % 6) {
      case 0:
        if (!b.empty()) b[rng() % b.size()] = static_cast<char>(rng() % 256);
        break;
      case 1:
        if (!b.empty()) b.resize(rng() % b.size());
        break;
      case 2: b.insert(b.begin() + static_cast<long>(b.empty() ? 0 : rng() % b.size()), static_cast<char>(rng() % 256)); break;
      case 3:
        if (b.size() > 4) b.erase(rng() % (b.size() - 1), 1 + rng() % 3);
        break;
      case 4: {  // a length field gone wild
        size_t at = b.empty() ? 0 : rng() % b.size();
        std::string big = rng() % 2 ? std::string("\x7f\xff\xff\xff", 4) : std::string("\xff\xff\xff\xfe", 4);
        b.insert(at, big);
        break;
      }
      case 5:
        if (!b.empty()) b += b.substr(rng() % b.size());
        break;
    }
  }
}

// What a rejected block must not have changed.
struct Snapshot {
  std::vector<std::string> values;
  static Snapshot Of(const fw::Ref<fw::StaticText>& t, const fw::Ref<fw::Listbox>& l, const fw::Ref<fw::Window>& w) {
    Snapshot s;
    auto add = [&](auto v) { s.values.push_back(std::to_string(v)); };
    s.values.push_back(t->Text());
    s.values.push_back(t->TextFont());
    add(t->Left()), add(t->Top()), add(t->Width()), add(t->Height()), add(t->Visible()), add(t->Enabled());
    add(t->TextAlign()), add(t->TextSize()), add(t->Bold()), add(t->TextColor().red);
    add(l->Left()), add(l->Width()), add(l->Height()), add(l->TextSize()), add(l->Visible());
    s.values.push_back(w->Title());
    add(w->Width()), add(w->Height()), add(w->MinHeight());
    return s;
  }
  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

TEST(DecoderFuzz, PropertyBlocksNeverCrashAndRejectedOnesChangeNothing) {
  fw::Ref<fw::Window> w = fw::New<fw::Window>();
  fw::Ref<fw::StaticText> text = w->__New<fw::StaticText>();
  text->Constructor();
  w->_AddControl("text", text);
  fw::Ref<fw::Listbox> list = w->__New<fw::Listbox>();
  list->Constructor();
  w->_AddControl("list", list);
  const std::vector<fw::Ref<fw::Object>> targets = {text, list, w};

  const auto start = tptest::SteadyClock::now();
  const double budget = Budget(10.0);
  std::mt19937_64 rng(20240607);
  long applied = 0, rejected = 0, iterations = 0;
  double slowest = 0;
  for (; iterations < 2000000 && (iterations < 2000 || tptest::SecondsSince(start) < budget); ++iterations) {
    const fw::Ref<fw::Object>& target = targets[rng() % targets.size()];
    auto props = AllProperties(target->Record());
    ASSERT_FALSE(props.empty());
    std::string block;
    if (rng() % 5 == 0) {
      block.resize(rng() % 200);
      for (auto& c : block) c = static_cast<char>(rng() % 256);
    } else {
      fw::PropList list;
      for (int n = 1 + static_cast<int>(rng() % 6); n > 0; --n) list.push_back(RandomProp(rng, *props[rng() % props.size()]));
      block = fw::EncodePropertyBlock(list);
      if (rng() % 4 != 0) Mutate(rng, block);
    }
    const Snapshot before = Snapshot::Of(text, list, w);
    const auto t0 = tptest::SteadyClock::now();
    bool ok = true;
    try {
      fw::_SetProperties(target, block);
    } catch (const fw::RuntimeException&) {
      ok = false;
    } catch (const std::exception& e) {
      FAIL() << "escaped as " << typeid(e).name() << ": " << e.what() << "\nblock: " << tptest::Printable(block, 200);
    }
    slowest = std::max(slowest, tptest::SecondsSince(t0));
    if (ok) {
      ++applied;
    } else {
      ++rejected;
      ASSERT_TRUE(Snapshot::Of(text, list, w) == before)
          << "a rejected block changed its object; block: " << tptest::Printable(block, 200);
    }
  }
  std::cout << "property blocks: " << iterations << " blocks (" << applied << " applied, " << rejected
            << " rejected) in " << tptest::SecondsSince(start) << " s, slowest " << slowest * 1000 << " ms\n";
  EXPECT_GT(applied, 0);
  EXPECT_GT(rejected, 0);
  EXPECT_LT(slowest, 1.0) << "one block took too long to decode";
}

std::string RandomSettingsBytes(std::mt19937_64& rng) {
  static const char* keys[] = {"port", "baud", "parity", "stop", "bits", "PORT", "", "x"};
  static const char* numbers[] = {"1e309", "-1e309", "nan", "inf", "-inf", "2147483648", "-2147483649",
                                  "99999999999999999999999", "0x10", " 7", "3.99", "-0", "+5", "1e-400", ""};
  std::string s;
  const int lines = static_cast<int>(rng() % 40);
  for (int i = 0; i < lines; ++i) {
    if (rng() % 4 == 0) {
      std::string junk(rng() % 8 == 0 ? rng() % 200000 : rng() % 60, '\0');
      for (auto& c : junk) c = static_cast<char>(rng() % 256);
      s += junk;
    } else {
      s += keys[rng() % 8];
      if (rng() % 6) s += '\t';
      s += rng() % 2 ? std::string(numbers[rng() % 15]) : std::to_string(static_cast<int64_t>(rng()));
      if (rng() % 5 == 0) s += "\tmore\t";
    }
    static const char* ends[] = {"\n", "\r", "\r\n", "\n\r", ""};
    s += ends[rng() % 5];
  }
  return s;
}

TEST(DecoderFuzz, SettingsReaderTakesAnyBytesAndWrittenSettingsReadBack) {
  tptest::TempDir dir;
  const std::string path = dir / "lineKeeper.prefs";
  fw::Ref<fw::FolderItem> file = fw::FolderItem::FromPath(path);
  const auto start = tptest::SteadyClock::now();
  const double budget = Budget(8.0);
  std::mt19937_64 rng(7);
  long files = 0;
  for (; files < 1000000 && (files < 300 || tptest::SecondsSince(start) < budget); ++files) {
    ASSERT_TRUE(tptest::WriteFile(path, RandomSettingsBytes(rng)));
    capture::Settings s;
    try {
      capture::ReadSettings(file, s);
    } catch (const std::exception& e) {
      FAIL() << "the reader raised " << e.what();
    }
    // Whatever was read, writing it and reading it back gives the same
    // settings: a port name is cut at its first TAB or line end, no further.
    capture::Settings written = s;
    written.port = written.port.substr(0, written.port.find_first_of("\t\r\n"));
    written.baud = static_cast<fw::Int32>(rng());
    written.stop = rng() % 2 ? INT_MIN : INT_MAX;
    capture::WriteSettings(file, written);
    capture::Settings back;
    back.baud = back.parity = back.stop = back.bits = 12345;
    ASSERT_TRUE(capture::ReadSettings(file, back));
    ASSERT_EQ(back, written) << "port " << tptest::Printable(written.port);
  }
  std::cout << "settings reader: " << files << " files in " << tptest::SecondsSince(start) << " s\n";
}

}  // namespace
