// Conservation under random input: whatever bytes arrive, cut however they
// are cut and from whichever source, the call files taken in writing order
// are exactly each source's input with LF taken as CR, NULs removed, split at
// CR and empty records dropped, in the order the records were completed; a
// record never takes in another source's bytes. Driven through the program's
// real serial and TCP handlers and its real ticks, many ticks raised directly.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>

#include "framework/Strings.h"
#include "support/CallFolder.h"
#include "support/InProcessProgram.h"
#include "support/NetNamespace.h"
#include "support/Pty.h"
#include "support/Records.h"
#include "support/TcpClient.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

// Port 23 in a network namespace of our own; made before any thread exists.
static const tptest::Namespaces kNs = tptest::EnterPrivateNamespaces(true, false);

namespace {

using tptest::Program;

// The program's end of a connection we opened: the descriptor whose peer is
// our client's address. Its unread byte count tells whether a delivery has
// been read.
int FindServerEnd(const tptest::TcpClient& client) {
  sockaddr_in mine{};
  socklen_t len = sizeof mine;
  if (getsockname(client.fd(), reinterpret_cast<sockaddr*>(&mine), &len) != 0) return -1;
  for (int fd = 3; fd < 4096; ++fd) {
    if (fd == client.fd()) continue;
    sockaddr_storage peer{};
    socklen_t pl = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &pl) != 0) continue;
    if (peer.ss_family == AF_INET) {
      auto* p = reinterpret_cast<sockaddr_in*>(&peer);
      if (p->sin_port == mine.sin_port && p->sin_addr.s_addr == mine.sin_addr.s_addr) return fd;
    } else if (peer.ss_family == AF_INET6) {
      auto* p = reinterpret_cast<sockaddr_in6*>(&peer);
      const uint8_t* a = p->sin6_addr.s6_addr;
      bool mapped = std::all_of(a, a + 10, [](uint8_t b) { return b == 0; }) && a[10] == 0xff && a[11] == 0xff &&
                    std::memcmp(a + 12, &mine.sin_addr.s_addr, 4) == 0;
      if (p->sin6_port == mine.sin_port && mapped) return fd;
    }
  }
  return -1;
}

struct Source {
  std::string name;
  tptest::Pty* pty = nullptr;
  tptest::TcpClient* tcp = nullptr;
  int serverEnd = -1;

  bool Write(const std::string& d) { return pty ? pty->Write(d) : tcp->Send(d); }
  int Unread() const {
    if (pty) return pty->Unread();
    int n = 0;
    return ioctl(serverEnd, FIONREAD, &n) == 0 ? n : 0;
  }
  // With XON on, the serial line's driver takes XON and XOFF as flow control,
  // not as data; a real line behaves the same.
  bool Carries(unsigned char c) const { return !pty || (c != 0x11 && c != 0x13); }
};

// Call files read once each, in writing order.
class CallFiles {
 public:
  explicit CallFiles(std::string dir) : dir_(std::move(dir)) {}
  std::vector<std::string> Records() {
    tptest::CallFolder f = tptest::ReadCallFolder(dir_, false);
    std::vector<std::string> out;
    for (auto& cf : f.files) {
      auto it = cache_.find(cf.name);
      if (it == cache_.end()) it = cache_.emplace(cf.name, tptest::ReadFile(dir_ + "/" + cf.name)).first;
      out.push_back(it->second);
    }
    return out;
  }

 private:
  std::string dir_;
  std::map<std::string, std::string> cache_;
};

bool EndsInSeparator(const std::string& s) {
  for (auto it = s.rbegin(); it != s.rend(); ++it) {
    if (*it == '\0') continue;
    return *it == '\r' || *it == '\n';
  }
  return true;
}

// What each source has sent, and the records completed so far by all of
// them in the order they were completed.
struct Sent {
  std::vector<std::string> bySource;
  std::vector<std::string> completed;
  std::vector<size_t> counted;  // records of each source already in completed

  explicit Sent(size_t sources) : bySource(sources), counted(sources, 0) {}
  void Add(size_t src, const std::string& d) {
    bySource[src] += d;
    const auto whole = tptest::ExpectedRecords(bySource[src], false);
    for (size_t i = counted[src]; i < whole.size(); ++i) completed.push_back(whole[i]);
    counted[src] = whole.size();
  }
  // The unfinished line of each source, where it has one.
  std::vector<std::string> Unfinished() const {
    std::vector<std::string> out;
    for (const auto& s : bySource)
      if (!EndsInSeparator(s)) out.push_back(tptest::ExpectedRecords(s).back());
    return out;
  }
};

// What has arrived so far (the call files and the buffer's whole lines) holds
// every completed record in order, and the buffer ends, if at all, in one
// source's unfinished line.
bool Holds(CallFiles& files, const Sent& sent) {
  std::vector<std::string> have = files.Records();
  const std::string& buf = App()->buffer();
  for (auto& r : tptest::ExpectedRecords(buf, false)) have.push_back(r);
  if (have != sent.completed) return false;
  if (buf.empty() || buf.back() == '\r') return true;
  const auto open = sent.Unfinished();
  return std::find(open.begin(), open.end(), buf.substr(buf.rfind('\r') + 1)) != open.end();
}

std::string RandomDelivery(std::mt19937_64& rng, const Source& src) {
  size_t len = rng() % 10 == 0 ? 1 + rng() % 700 : 1 + rng() % 48;
  std::string d;
  while (d.size() < len) {
    unsigned r = static_cast<unsigned>(rng() % 100);
    unsigned char c;
    if (r < 5) c = '\r';
    else if (r < 9) c = '\n';
    else if (r < 14) c = '\0';
    else if (r < 45) c = static_cast<unsigned char>(0x80 + rng() % 0x80);
    else if (r < 50) c = static_cast<unsigned char>(1 + rng() % 31);
    else c = static_cast<unsigned char>(32 + rng() % 95);
    if (src.Carries(c)) d.push_back(static_cast<char>(c));
  }
  return d;
}

double Budget(double ciSeconds) {
  const char* env = getenv("TALLYPOINT_FUZZ_SECONDS");  // the long form: bench/README.md
  return env ? std::atof(env) : ciSeconds;
}

class Conservation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Program& p = Program::Shared(true);
    ASSERT_NE(p.pty(), nullptr);
    sources_.push_back({"serial", p.pty(), nullptr, -1});
    if (!kNs.net) {
      std::cout << "[ SKIPPED  ] TCP sources: no network namespace of our own (" << kNs.netWhy
                << "); serial only\n";
      return;
    }
    for (int i = 0; i < 2; ++i) {
      clients_[i] = std::make_unique<tptest::TcpClient>();
      ASSERT_TRUE(clients_[i]->Connect(23)) << "port 23 in our namespace";
      int end = -1;
      tptest::RunUntil([&] { return (end = FindServerEnd(*clients_[i])) >= 0; }, 5000);
      ASSERT_GE(end, 0) << "the program never accepted connection " << i;
      sources_.push_back({"tcp" + std::to_string(i), nullptr, clients_[i].get(), end});
    }
  }

  static inline std::vector<Source> sources_;
  static inline std::unique_ptr<tptest::TcpClient> clients_[2];
};

TEST_F(Conservation, NoByteLostAddedOrReorderedWhateverTheCutsAndSources) {
  Program& p = Program::Shared(true);
  const auto start = tptest::SteadyClock::now();
  const double budget = Budget(25.0);
  int seeds = 0, totalDeliveries = 0, totalRecords = 0;
  for (std::uint64_t seed = 1; seed <= 100000 && (seeds < 4 || tptest::SecondsSince(start) < budget); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    std::string calls = p.FreshCallsFolder("calls-" + std::to_string(seed));
    CallFiles files(calls);
    const int unhandledBefore = fw::UnhandledExceptionCount();
    ASSERT_EQ(App()->buffer(), "") << "the previous case left text behind";

    Sent sent(sources_.size());
    size_t src = 0;
    const int deliveries = 10 + static_cast<int>(rng() % 80);
    for (int k = 0; k < deliveries; ++k) {
      const std::string d = RandomDelivery(rng, sources_[src]);
      const auto before = tptest::ExpectedRecords(sent.bySource[src]);
      const bool sepBefore = EndsInSeparator(sent.bySource[src]);
      sent.Add(src, d);
      ASSERT_TRUE(sources_[src].Write(d)) << sources_[src].name;
      ASSERT_TRUE(tptest::RunUntil([&] { return sources_[src].Unread() == 0 && Holds(files, sent); }, 5000))
          << "after delivery " << k << " on " << sources_[src].name << ": " << tptest::Printable(d)
          << "\nbuffer: " << tptest::Printable(App()->buffer());
      for (int t = static_cast<int>(rng() % 3); t > 0; --t) Program::Tick();
      // Change source only after a delivery that showed, so that no unread
      // byte of one source can overtake another's.
      const bool showed =
          tptest::ExpectedRecords(sent.bySource[src]) != before || EndsInSeparator(sent.bySource[src]) != sepBefore;
      if (showed && rng() % 3 == 0) src = rng() % sources_.size();
    }
    for (auto& s : sources_) tptest::RunUntil([&] { return s.Unread() == 0; }, 2000);

    // Drain: one record per tick, then each source's unfinished line at its
    // deadline, one after the other.
    for (size_t round = 0; round <= sources_.size(); ++round) {
      for (int t = 0; t < 5000 && fw::InStr(App()->buffer(), fw::Chr(13)) > 0; ++t) Program::Tick();
      fw::Ref<fw::Date> now = fw::New<fw::Date>();
      App()->timeout->TotalSeconds(now->TotalSeconds() - 1.0);
      Program::Tick();
    }

    // The unfinished lines go last, in an order of their own.
    std::vector<std::string> expected = sent.completed;
    std::vector<std::string> tails = sent.Unfinished();
    std::sort(tails.begin(), tails.end());
    expected.insert(expected.end(), tails.begin(), tails.end());
    tptest::CallFolder got = tptest::ReadCallFolder(calls);
    std::vector<std::string> contents;
    for (auto& f : got.files) contents.push_back(f.content);
    ASSERT_EQ(App()->buffer(), "");
    ASSERT_EQ(contents.size(), expected.size());
    std::sort(contents.begin() + static_cast<std::ptrdiff_t>(sent.completed.size()), contents.end());
    for (size_t i = 0; i < expected.size(); ++i)
      ASSERT_EQ(contents[i], expected[i]) << "record " << i << ": " << tptest::Printable(contents[i]) << " vs "
                                          << tptest::Printable(expected[i]);
    EXPECT_TRUE(got.strays.empty()) << "left in Calls: " << got.strays.front();
    EXPECT_EQ(fw::UnhandledExceptionCount(), unhandledBefore);
    // The list shows what the folder holds.
    if (!expected.empty()) {
      EXPECT_EQ(Program::FileList()->ListCount(), static_cast<fw::Int32>(expected.size()));
      EXPECT_EQ(Program::Text("callStatus")->Text(),
                std::to_string(expected.size()) + (expected.size() == 1 ? " call collected" : " calls collected"));
    }
    ++seeds;
    totalDeliveries += deliveries;
    totalRecords += static_cast<int>(expected.size());
  }
  std::cout << "conservation: " << seeds << " seeds, " << totalDeliveries << " deliveries, " << totalRecords
            << " records over " << sources_.size() << " sources in " << tptest::SecondsSince(start) << " s\n";
}

}  // namespace
