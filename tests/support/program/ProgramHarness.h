#pragma once
// The program started as its start-up does, in a private temporary folder,
// and the outside ends of its inputs: a pseudo-terminal and a TCP client.
#include <functional>
#include <string>
#include <vector>

#include "capture/App.h"
#include "framework/ServerSocket.h"
#include "support/TestEnvironment.h"

namespace tptest {

struct CallFileOnDisk {
  std::string name;
  std::string content;
};

// Runs the event loop until cond holds or timeoutMs passed; returns cond().
bool RunUntil(const std::function<bool()>& cond, int timeoutMs = 5000);

class Program {
 public:
  Program();
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Writes "lineKeeper.prefs" before the start.
  void WritePrefs(const std::string& content);
  // Runs the start-up routine and then the application's Open event.
  void Start();

  fw::Ref<class App> app() const;
  std::string callsDir() const { return iso.volume + "/Calls"; }
  std::string prefsFile() const { return iso.preferences + "/lineKeeper.prefs"; }
  // Call files in name order (the order they were written within a run).
  std::vector<CallFileOnDisk> CallFiles() const;
  std::vector<std::string> CallContents() const;
  std::string Status() const;      // text of portStatus
  std::string BufferLine() const;  // text of bufferview

  TempDir dir;
  IsolatedVolume iso{dir};

 private:
  bool started_ = false;
};

// A pseudo-terminal in raw mode whose slave is listed in TALLYPOINT_SERIAL_PORTS
// for the object's lifetime.
class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;
  const std::string& slavePath() const { return slave_; }
  void Write(const std::string& bytes);

 private:
  int master_ = -1, slaveKeep_ = -1;
  std::string slave_, oldPorts_;
  bool hadPorts_ = false;
};

// A listener on a free loopback port whose connections are IPSockets, as the
// main window's listener makes them.
class IPSocketServer {
 public:
  IPSocketServer();
  ~IPSocketServer();
  int port() const;
  fw::Ref<fw::ServerSocket> server;
};

// A plain blocking TCP client.
class TcpClient {
 public:
  explicit TcpClient(int port);
  ~TcpClient();
  void Send(const std::string& bytes);
  void Close();

 private:
  int fd_ = -1;
};

}  // namespace tptest
