// A soak of the real program: the serial line and two TCP clients send
// records cut at random points with random pauses, the clients now and then
// hang up and come back, and afterwards every record is in the call files,
// each source's bytes complete and in order.
//
// Each source writes from an alphabet of its own, so every byte of a call
// file can be traced to its source. The input buffer is shared by all
// sources (one line discipline for the whole program), so a line end from
// one source can fall between two pieces of another's record and cut it in
// two files; such cuts are counted and reported, not failed.

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <mutex>

#include "support/CallFolder.h"
#include "support/ChildProgram.h"
#include "support/NetNamespace.h"
#include "support/ProcFigures.h"
#include "support/Pty.h"
#include "support/Records.h"
#include "support/TcpClient.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

static const tptest::Namespaces kNs = tptest::EnterPrivateNamespaces(true, false);

namespace {

struct Alphabet {
  std::string chars;
  bool Owns(unsigned char c) const { return chars.find(static_cast<char>(c)) != std::string::npos; }
};

Alphabet SerialAlphabet() { return {"abcdefghijklmnopqrstuvwxyz0123456789 "}; }
Alphabet TcpAlphabet0() { return {"ABCDEFGHIJKLMNOPQRSTUVWXYZ!#$%&()*+,-./:;<=>?@[]^_{|}~"}; }
Alphabet TcpAlphabet1() {
  Alphabet a;
  for (int c = 0x80; c <= 0xFF; ++c) a.chars.push_back(static_cast<char>(c));
  return a;
}

struct Sent {
  std::string name;
  Alphabet alphabet;
  std::vector<std::string> records;  // content only, NULs and line ends left out
  std::mutex m;
};

// A record as it goes on the wire: its text with NULs sprinkled in and one
// of the three line ends.
std::string MakeRecord(std::mt19937_64& rng, const Alphabet& a, std::string& content) {
  const size_t len = 8 + rng() % 90;
  std::string wire;
  content.clear();
  while (content.size() < len) {
    if (rng() % 40 == 0) wire.push_back('\0');
    char c = a.chars[rng() % a.chars.size()];
    content.push_back(c);
    wire.push_back(c);
  }
  static const char* ends[] = {"\r", "\n", "\r\n"};
  wire += ends[rng() % 3];
  return wire;
}

struct Verdict {
  bool complete = false;
  std::string error;
  int whole = 0, cut = 0;
  std::string firstCut;  // the files a cut record ended up in
};

// Follows one source through the call files in order.
Verdict Follow(const std::vector<tptest::CallFile>& files, const Sent& src) {
  Verdict v;
  size_t idx = 0;
  std::string acc;
  int pieces = 0;
  std::string where;
  for (const auto& f : files) {
    std::string frag;
    for (char c : f.content)
      if (src.alphabet.Owns(static_cast<unsigned char>(c))) frag.push_back(c);
    if (frag.empty()) continue;
    if (idx >= src.records.size()) {
      v.error = src.name + ": bytes after its last record in " + f.name + ": " + tptest::Printable(frag);
      return v;
    }
    acc += frag;
    ++pieces;
    where += (where.empty() ? "" : " + ") + tptest::Printable(f.content, 40);
    const std::string& want = src.records[idx];
    if (acc == want) {
      (pieces == 1 ? v.whole : v.cut)++;
      if (pieces > 1 && v.firstCut.empty()) v.firstCut = src.name + " record " + std::to_string(idx) + " in " + where;
      ++idx;
      acc.clear();
      where.clear();
      pieces = 0;
    } else if (acc.size() > want.size() || want.compare(0, acc.size(), acc) != 0) {
      v.error = src.name + " record " + std::to_string(idx) + " damaged (in " + f.name + "): got " +
                tptest::Printable(acc) + " want " + tptest::Printable(want);
      return v;
    }
  }
  v.complete = idx == src.records.size() && acc.empty();
  if (!v.complete && v.error.empty())
    v.error = src.name + ": " + std::to_string(src.records.size() - idx) + " of " +
              std::to_string(src.records.size()) + " records missing";
  return v;
}

double SoakSeconds() {
  const char* env = getenv("TALLYPOINT_SOAK_SECONDS");  // the long form: bench/README.md
  return env ? std::atof(env) : 60.0;
}

TEST(Soak, EveryRecordFromSerialAndTwoTcpClientsArrivesWhole) {
  tptest::TempDir dir;
  tptest::Pty pty;
  tptest::ProgramOptions o = tptest::SerialProgramIn(dir, pty.slavePath());
  const bool tcp = kNs.net;
  if (!tcp) std::cout << "[ SKIPPED  ] TCP clients: no network namespace of our own (" << kNs.netWhy << ")\n";

  tptest::ChildProgram prog(o);
  ASSERT_TRUE(prog.WaitStarted(tptest::milliseconds(15000), true, tcp)) << prog.Log();

  const double seconds = SoakSeconds();
  // Few enough records that the 500 ms ticks keep up: about two a second
  // between all sources, line ends cut in two costing a tick each.
  const int serialRecords = static_cast<int>(seconds * 0.6), tcpRecords = static_cast<int>(seconds * 0.35);
  Sent serial{"serial", SerialAlphabet(), {}, {}};
  Sent tcp0{"tcp0", TcpAlphabet0(), {}, {}};
  Sent tcp1{"tcp1", TcpAlphabet1(), {}, {}};
  std::atomic<int> reconnects{0};
  std::atomic<bool> broken{false};
  const auto start = tptest::SteadyClock::now();
  auto sleepMs = [](std::mt19937_64& rng, int max) {
    std::this_thread::sleep_for(tptest::milliseconds(rng() % (std::max(max, 0) + 1)));
  };

  std::thread serialThread([&] {
    std::mt19937_64 rng(1);
    for (int i = 0; i < serialRecords && tptest::SecondsSince(start) < seconds; ++i) {
      std::string content, wire = MakeRecord(rng, serial.alphabet, content);
      {
        std::lock_guard<std::mutex> l(serial.m);
        serial.records.push_back(content);
      }
      for (auto& piece : tptest::RandomSplits(wire, rng, 1 + wire.size() / 2)) {
        if (!pty.Write(piece)) {
          broken = true;
          return;
        }
        // 19,200 baud: about 1,920 bytes a second.
        std::this_thread::sleep_for(std::chrono::microseconds(piece.size() * 521));
        sleepMs(rng, 20);
      }
      sleepMs(rng, static_cast<int>(2 * 1000 * seconds / serialRecords) - 100);
    }
  });
  auto tcpSender = [&](Sent& s, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    tptest::TcpClient c;
    for (int i = 0; i < tcpRecords && tptest::SecondsSince(start) < seconds; ++i) {
      if (!c.connected() && !c.Connect(23)) {
        broken = true;
        return;
      }
      std::string content, wire = MakeRecord(rng, s.alphabet, content);
      {
        std::lock_guard<std::mutex> l(s.m);
        s.records.push_back(content);
      }
      for (auto& piece : tptest::RandomSplits(wire, rng, 1 + wire.size() / 2)) {
        if (!c.Send(piece)) {
          broken = true;
          return;
        }
        sleepMs(rng, 20);
      }
      if (rng() % 6 == 0) {  // hang up between records and come back
        c.WaitAcked(tptest::milliseconds(2000));
        c.Close();
        ++reconnects;
        sleepMs(rng, 500);
      }
      sleepMs(rng, static_cast<int>(2 * 1000 * seconds / tcpRecords) - 100);
    }
    c.WaitAcked(tptest::milliseconds(5000));
  };
  std::thread t0, t1;
  if (tcp) {
    t0 = std::thread(tcpSender, std::ref(tcp0), 2);
    t1 = std::thread(tcpSender, std::ref(tcp1), 3);
  }
  serialThread.join();
  if (t0.joinable()) t0.join();
  if (t1.joinable()) t1.join();
  const double sendSeconds = tptest::SecondsSince(start);
  ASSERT_FALSE(broken) << "a line or connection broke while sending";

  std::vector<Sent*> sources = {&serial};
  if (tcp) sources.insert(sources.end(), {&tcp0, &tcp1});
  size_t total = 0;
  for (auto* s : sources) total += s->records.size();

  // Drain: at two ticks a second, with some slack.
  std::vector<Verdict> verdicts;
  tptest::CallFolder folder;
  auto drained = [&] {
    folder = tptest::ReadCallFolder(prog.callsDir());
    verdicts.clear();
    bool all = true;
    for (auto* s : sources) {
      verdicts.push_back(Follow(folder.files, *s));
      all = all && verdicts.back().complete;
    }
    return all || std::any_of(verdicts.begin(), verdicts.end(), [](const Verdict& v) { return !v.complete && v.error.find("damaged") != std::string::npos; });
  };
  tptest::WaitFor(drained, tptest::milliseconds(static_cast<long>(30000 + 1000 * total)), tptest::milliseconds(500));
  const double drainSeconds = tptest::SecondsSince(start) - sendSeconds;

  int whole = 0, cut = 0;
  std::string example;
  for (auto& v : verdicts) {
    EXPECT_TRUE(v.complete) << v.error;
    whole += v.whole;
    cut += v.cut;
    if (example.empty()) example = v.firstCut;
  }
  EXPECT_TRUE(folder.strays.empty()) << "left in Calls: " << folder.strays.front();
  EXPECT_TRUE(prog.Alive()) << prog.Log();
  std::cout << "soak: " << total << " records (" << serial.records.size() << " serial, " << tcp0.records.size()
            << " + " << tcp1.records.size() << " TCP, " << reconnects << " reconnects) sent over " << sendSeconds
            << " s, drained " << drainSeconds << " s later into " << folder.files.size() << " files; " << whole
            << " whole, " << cut << " cut by another source's line end; program CPU " << tptest::CpuSeconds(prog.pid())
            << " s, peak RSS " << tptest::StatusKb(prog.pid(), "VmHWM") / 1024 << " MiB\n";
  if (!example.empty()) std::cout << "  for instance " << example << "\n";
  if (!tcp) {
    EXPECT_EQ(cut, 0) << "with a single source no record may be cut";
  }
}

}  // namespace
