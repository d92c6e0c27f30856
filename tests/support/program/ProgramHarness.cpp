#include "support/program/ProgramHarness.h"
#include "support/program/UiWindows.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "capture/IPSocket.h"
#include "capture/Startup.h"
#include "capture/customPort.h"
#include "capture/secondTimer.h"
#include "framework/StaticText.h"
#include "framework/Testing.h"
#include "ui/Window1.h"

namespace tptest {

namespace fs = std::filesystem;

bool RunUntil(const std::function<bool()>& cond, int timeoutMs) {
  return fw::testing::RunEventLoopUntil(cond, timeoutMs);
}

Program::Program() = default;

Program::~Program() {
  fw::testing::ClearModalAnswerer();
  if (!started_) return;
  fw::Ref<class App> a = app();
  // Leave nothing of this run to fire into the next test.
  if (a->regularTimer) a->regularTimer->Mode(0);
  if (a->myPort) a->myPort->Close();
  CloseUiWindows();
}

void Program::WritePrefs(const std::string& content) { WriteFile(prefsFile(), content); }

void Program::Start() {
  startup::_Startup();
  started_ = true;
  app()->Open.Raise();
}

fw::Ref<class App> Program::app() const { return ::App(); }

std::vector<CallFileOnDisk> Program::CallFiles() const {
  std::vector<CallFileOnDisk> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(callsDir(), ec))
    if (e.is_regular_file() && e.path().extension() == ".txt")
      files.push_back({e.path().filename().string(), ReadFile(e.path().string())});
  // Within one run the counter orders names of one second; compare the stamp,
  // then the counter as a number.
  std::sort(files.begin(), files.end(), [](const CallFileOnDisk& a, const CallFileOnDisk& b) {
    auto key = [](const std::string& n) {
      std::string stem = n.substr(0, n.size() - 4);
      return std::make_pair(stem.substr(0, 14), std::stoll(stem.substr(14)));
    };
    return key(a.name) < key(b.name);
  });
  return files;
}

std::vector<std::string> Program::CallContents() const {
  std::vector<std::string> out;
  for (const auto& f : CallFiles()) out.push_back(f.content);
  return out;
}

static std::string ControlText(const char* name) {
  return fw::RuntimeCheckCast<fw::StaticText>(fw::RuntimeWindowControlByName(Window1(), name))->Text();
}
std::string Program::Status() const { return ControlText("portStatus"); }
std::string Program::BufferLine() const { return ControlText("bufferview"); }

PseudoTerminal::PseudoTerminal() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pseudo-terminal");
  slave_ = ptsname(master_);
  // Raw, so that nothing is echoed or translated before the port opens.
  slaveKeep_ = open(slave_.c_str(), O_RDWR | O_NOCTTY);
  if (slaveKeep_ < 0) throw std::runtime_error("cannot open " + slave_);
  termios t{};
  tcgetattr(slaveKeep_, &t);
  cfmakeraw(&t);
  tcsetattr(slaveKeep_, TCSANOW, &t);
  if (const char* old = getenv("TALLYPOINT_SERIAL_PORTS")) {
    hadPorts_ = true;
    oldPorts_ = old;
  }
  setenv("TALLYPOINT_SERIAL_PORTS", slave_.c_str(), 1);
}

PseudoTerminal::~PseudoTerminal() {
  if (hadPorts_) setenv("TALLYPOINT_SERIAL_PORTS", oldPorts_.c_str(), 1);
  else unsetenv("TALLYPOINT_SERIAL_PORTS");
  if (slaveKeep_ >= 0) close(slaveKeep_);
  if (master_ >= 0) close(master_);
}

void PseudoTerminal::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0) throw std::runtime_error("pseudo-terminal write failed");
    done += static_cast<size_t>(n);
  }
}

IPSocketServer::IPSocketServer() : server(fw::New<fw::ServerSocket>()) {
  server->AddSocket.Install(std::make_shared<fw::Delegate<fw::Ref<fw::TCPSocket>()>>(
      [] { return fw::Ref<fw::TCPSocket>(fw::New<IPSocket>()); }, "test.AddSocket"));
  server->Port(0);
  server->MinimumSocketsAvailable(1);
  server->MaximumSocketsConnected(2);
  server->Listen();
  if (!server->IsListening()) throw std::runtime_error("test listener did not start");
}

IPSocketServer::~IPSocketServer() { server->StopListening(); }

int IPSocketServer::port() const { return server->BoundPort(); }

TcpClient::TcpClient(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    throw std::runtime_error("cannot connect to the test listener");
}

TcpClient::~TcpClient() { Close(); }

void TcpClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0) throw std::runtime_error("send failed");
    done += static_cast<size_t>(n);
  }
}

void TcpClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace tptest
