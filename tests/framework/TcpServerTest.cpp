// The listener and its connections, driven by plain blocking client sockets
// on the loopback interface.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QEventLoop>
#include <QTimer>
#include <functional>

#include "framework/Testing.h"
#include "framework/Runtime.h"
#include "framework/ServerSocket.h"
#include "framework/qt/TcpSocketBacking.h"
#include "support/TcpClient.h"
#include "support/WaitFor.h"

namespace {

using fw::Int32;
using fw::Ref;
using fw::ServerSocket;
using fw::String;
using fw::TCPSocket;

using tptest::TcpClient;
using tptest::RunFor;
using tptest::RunUntil;

// What one socket handed out through AddSocket saw, in order.
struct Seen {
  std::weak_ptr<fw::Object> socket;
  bool connected = false;
  String data;
  std::vector<Int32> errors;
  std::vector<std::string> events;
};

// A listener whose AddSocket makes sockets that record their events. The
// test holds no socket: the listener must keep them.
struct Harness {
  Ref<ServerSocket> server = fw::New<ServerSocket>();
  std::vector<std::shared_ptr<Seen>> made;
  std::vector<Int32> listenErrors;
  bool handOutNil = false;
  bool ignoreFirstDelivery = false;  // a handler that failed before reading

  explicit Harness(Int32 maxConnected = 2, Int32 minAvailable = 1) {
    server->Port(0);
    server->MinimumSocketsAvailable(minAvailable);
    server->MaximumSocketsConnected(maxConnected);
    server->AddSocket.Install(std::make_shared<fw::Delegate<Ref<TCPSocket>()>>(
        [this]() -> Ref<TCPSocket> {
          if (handOutNil) return nullptr;
          return MakeSocket();
        },
        "Harness.AddSocket"));
    server->Error.Install(std::make_shared<fw::Delegate<void(Int32)>>(
        [this](Int32 code) { listenErrors.push_back(code); }, "Harness.Error"));
  }

  Ref<TCPSocket> MakeSocket() {
    Ref<TCPSocket> s = fw::New<TCPSocket>();
    auto seen = std::make_shared<Seen>();
    seen->socket = s.shared();
    TCPSocket* raw = s.get();
    Seen* rec = seen.get();
    s->Connected.Install(std::make_shared<fw::Delegate<void()>>(
        [rec] {
          rec->connected = true;
          rec->events.push_back("connected");
        },
        "Seen.Connected"));
    s->DataAvailable.Install(std::make_shared<fw::Delegate<void()>>(
        [this, rec, raw] {
          rec->events.push_back("data");
          if (ignoreFirstDelivery && rec->events.size() == 2) return;
          rec->data += raw->ReadAll();
        },
        "Seen.DataAvailable"));
    s->Error.Install(std::make_shared<fw::Delegate<void()>>(
        [rec, raw] {
          rec->errors.push_back(raw->LastErrorCode());
          rec->events.push_back("error");
        },
        "Seen.Error"));
    made.push_back(seen);
    return s;
  }

  int port() const { return server->BoundPort(); }
  std::vector<Seen*> Connected() const {
    std::vector<Seen*> out;
    for (const auto& s : made)
      if (s->connected) out.push_back(s.get());
    return out;
  }
  size_t Active() const { return server->ActiveConnections().size(); }
};

TEST(TcpServer, ThirdConnectionWaitsForAFreeSlotAndLosesNoData) {
  Harness h;
  h.server->Listen();
  ASSERT_TRUE(h.server->IsListening());
  ASSERT_GT(h.port(), 0);

  TcpClient first(h.port()), second(h.port());
  ASSERT_TRUE(RunUntil([&] { return h.Connected().size() == 2; }));
  Seen* firstSeen = h.Connected()[0];

  // Neither refused nor dropped: the connection stands and its data waits.
  TcpClient third(h.port());
  ASSERT_TRUE(third.connected());
  third.Send("third caller line\r\n");
  RunFor(300);
  EXPECT_EQ(h.Connected().size(), 2u);
  EXPECT_EQ(h.Active(), 2u);

  first.Close();
  ASSERT_TRUE(RunUntil([&] { return h.Connected().size() == 3; }));
  Seen* thirdSeen = h.Connected()[2];
  ASSERT_TRUE(RunUntil([&] { return thirdSeen->data == "third caller line\r\n"; }));
  EXPECT_EQ(firstSeen->errors, std::vector<Int32>{TCPSocket::LostConnection});
  EXPECT_EQ(h.Active(), 2u);

  // More from the third, now that it is served.
  third.Send("more\r");
  ASSERT_TRUE(RunUntil([&] { return thirdSeen->data == "third caller line\r\nmore\r"; }));
}

class PeerEnding : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(CloseOrReset, PeerEnding, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Reset" : "OrderlyClose"; });

TEST_P(PeerEnding, LostPeerReportedOnceAs102AndItsSlotFreed) {
  const bool reset = GetParam();
  Harness h;
  h.server->Listen();
  {
    TcpClient c(h.port());
    ASSERT_TRUE(RunUntil([&] { return h.Connected().size() == 1; }));
    c.Send("last words\r");
    if (reset) c.Reset();
    else c.Close();
  }
  Seen* seen = h.Connected()[0];
  ASSERT_TRUE(RunUntil([&] { return !seen->errors.empty(); }));
  EXPECT_EQ(seen->errors, std::vector<Int32>{TCPSocket::LostConnection});
  // The bytes sent before the end come first.
  EXPECT_EQ(seen->data, "last words\r");
  EXPECT_EQ(seen->events.front(), "connected");
  EXPECT_EQ(seen->events.back(), "error");
  ASSERT_TRUE(RunUntil([&] { return h.Active() == 0; }));
  RunFor(100);
  EXPECT_EQ(seen->errors.size(), 1u);
  // Released by the listener once it let go of it.
  EXPECT_TRUE(seen->socket.expired());
}

TEST(TcpServer, BytesLeftUnreadWhenThePeerGoesAreOfferedBeforeTheError) {
  Harness h;
  h.ignoreFirstDelivery = true;
  h.server->Listen();
  auto c = std::make_unique<TcpClient>(h.port());
  c->Send("unread call\r");
  ASSERT_TRUE(RunUntil([&] { return h.Connected().size() == 1 && h.Connected()[0]->events.size() == 2; }));
  Seen* seen = h.Connected()[0];
  c.reset();
  ASSERT_TRUE(RunUntil([&] { return !seen->errors.empty(); }));
  EXPECT_EQ(seen->data, "unread call\r");
  EXPECT_EQ(seen->events, (std::vector<std::string>{"connected", "data", "data", "error"}));
}

TEST(TcpServer, SlotFreedByALostPeerServesANewConnection) {
  Harness h(1);
  h.server->Listen();
  auto a = std::make_unique<TcpClient>(h.port());
  ASSERT_TRUE(RunUntil([&] { return h.Connected().size() == 1; }));
  a.reset();
  ASSERT_TRUE(RunUntil([&] { return h.Active() == 0; }));
  TcpClient b(h.port());
  b.Send("x\r");
  ASSERT_TRUE(RunUntil([&] { return h.Connected().size() == 2 && h.Connected()[1]->data == "x\r"; }));
}

TEST(TcpServer, ListenOnAPortInUseRaisesAddressInUseFromTheLoop) {
  Harness taken;
  taken.server->Listen();
  ASSERT_TRUE(taken.server->IsListening());

  Harness h;
  h.server->Port(taken.port());
  h.server->Listen();
  // Not inside Listen: its caller may still be building the window that handles it.
  EXPECT_TRUE(h.listenErrors.empty());
  ASSERT_TRUE(RunUntil([&] { return !h.listenErrors.empty(); }));
  EXPECT_EQ(h.listenErrors, std::vector<Int32>{TCPSocket::AddressInUse});
  EXPECT_FALSE(h.server->IsListening());
}

TEST(TcpServer, PrivilegedPortWithoutTheRightRaisesNoPermission) {
  if (geteuid() == 0) GTEST_SKIP() << "root may bind any port";
  Harness h;
  h.server->Port(23);
  h.server->Listen();
  ASSERT_TRUE(RunUntil([&] { return !h.listenErrors.empty(); }));
  EXPECT_EQ(h.listenErrors, std::vector<Int32>{TCPSocket::NoPermission});
}

TEST(TcpServer, MinimumOfWaitingSocketsIsKeptUp) {
  Harness h(5, 2);
  h.server->Listen();
  EXPECT_EQ(h.made.size(), 2u);
  TcpClient c(h.port());
  ASSERT_TRUE(RunUntil([&] { return h.Connected().size() == 1; }));
  EXPECT_EQ(h.made.size(), 3u);
  // The sockets waiting are held by the listener alone.
  for (const auto& s : h.made) EXPECT_FALSE(s->socket.expired());
}

TEST(TcpServer, NilFromAddSocketStillTakesTheConnection) {
  Harness h;
  h.handOutNil = true;
  h.server->Listen();
  TcpClient c(h.port());
  c.Send("kept\r");
  ASSERT_TRUE(RunUntil([&] { return h.Active() == 1; }));
  Ref<TCPSocket> plain = h.server->ActiveConnections()[0];
  String got;
  ASSERT_TRUE(RunUntil([&] {
    got += plain->ReadAll();
    return got == "kept\r";
  }));
  EXPECT_TRUE(plain->IsConnected());
}

TEST(TcpServer, IPv6PeersAreAcceptedToo) {
  Harness h;
  h.server->Listen();
  TcpClient v6(h.port(), TcpClient::Family::IPv6);
  if (!v6.connected()) GTEST_SKIP() << "no IPv6 loopback here";
  v6.Send("over v6\r");
  ASSERT_TRUE(RunUntil([&] { return h.Connected().size() == 1 && h.Connected()[0]->data == "over v6\r"; }));
}

TEST(TcpServer, AcceptedConnectionsProbeAVanishedPeer) {
  Harness h;
  h.server->Listen();
  TcpClient c(h.port());
  ASSERT_TRUE(RunUntil([&] { return h.Active() == 1; }));
  const int fd = static_cast<int>(h.server->ActiveConnections()[0]->backing().Descriptor());
  ASSERT_GE(fd, 0);
  struct Row {
    int level, name, expected;
  };
  for (const Row& r : {Row{SOL_SOCKET, SO_KEEPALIVE, 1}, Row{IPPROTO_TCP, TCP_KEEPIDLE, 60},
                       Row{IPPROTO_TCP, TCP_KEEPINTVL, 10}, Row{IPPROTO_TCP, TCP_KEEPCNT, 6}}) {
    int value = -1;
    socklen_t len = sizeof value;
    ASSERT_EQ(getsockopt(fd, r.level, r.name, &value, &len), 0);
    EXPECT_EQ(value, r.expected) << "option " << r.name;
  }
}

TEST(TcpServer, PropertyBlockSettersReachTheListener) {
  const fw::ClassRecord* rec = fw::FindClass("ServerSocket");
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->superName, "Object");
  Ref<ServerSocket> s = fw::New<ServerSocket>();
  struct Row {
    const char* name;
    Int32 value;
    std::function<Int32()> get;
  };
  for (const Row& r : {Row{"Port", 2323, [&] { return s->Port(); }},
                       Row{"MinimumSocketsAvailable", 3, [&] { return s->MinimumSocketsAvailable(); }},
                       Row{"MaximumSocketsConnected", 7, [&] { return s->MaximumSocketsConnected(); }}}) {
    const fw::PropertyInfo* p = rec->FindProperty(r.name);
    ASSERT_NE(p, nullptr) << r.name;
    EXPECT_EQ(p->type, fw::PropType::Int32);
    p->set(*s, fw::PropValue(r.value));
    EXPECT_EQ(r.get(), r.value) << r.name;
  }
}

}  // namespace
