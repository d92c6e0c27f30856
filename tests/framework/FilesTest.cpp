#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <thread>

#include "framework/FolderItem.h"
#include "framework/Testing.h"
#include "framework/TextInputStream.h"
#include "framework/TextOutputStream.h"
#include "support/ChildProcess.h"
#include "support/StderrCapture.h"
#include "support/TestEnvironment.h"

using namespace fw;
using tptest::ReadFile;
using tptest::TempDir;
using tptest::WriteFile;
using fw::testing::RunEventLoopUntil;

namespace {

// Every name in a folder, hidden ones included.
std::vector<std::string> AllNames(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<String> Listed(const Ref<FolderItem>& folder) {
  std::vector<String> out;
  for (Int32 i = 1; i <= folder->Count(); ++i) out.push_back(folder->Item(i)->Name());
  return out;
}

String ReadThrough(const Ref<FolderItem>& f) {
  auto in = f->OpenAsTextFile();
  if (!in) return "<nil>";
  String s = in->ReadAll();
  in->Close();
  return s;
}

// Tests run as root here, where permission bits do not bind; shed the
// capabilities that bypass them for the length of a test.
class PermissionsBind {
 public:
  PermissionsBind() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    syscall(SYS_capget, &header_, saved_);
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
      reduced[cap / 32].effective &= ~(1u << (cap % 32));
    syscall(SYS_capset, &header_, reduced);
  }
  ~PermissionsBind() { syscall(SYS_capset, &header_, saved_); }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
};

TEST(Files, VolumeAndPreferencesFollowTheEnvironmentAtEachCall) {
  TempDir tmp;
  {
    tptest::IsolatedVolume iso(tmp);
    EXPECT_EQ(Volume(0)->NativePath(), iso.volume);
    EXPECT_EQ(SpecialFolder::Preferences()->NativePath(), iso.preferences);
    EXPECT_TRUE(Volume(1).IsNil());
  }
  const char* oldHome = getenv("HOME");
  std::string savedHome = oldHome ? oldHome : "";
  const char* oldXdg = getenv("XDG_CONFIG_HOME");
  std::string savedXdg = oldXdg ? oldXdg : "";
  unsetenv("TALLYPOINT_STARTUP_VOLUME");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", (tmp / "home").c_str(), 1);
  EXPECT_EQ(Volume(0)->NativePath(), "/");
  auto prefs = SpecialFolder::Preferences();
  EXPECT_EQ(prefs->NativePath(), tmp / "home/.config");
  // A fresh account has no ~/.config; the settings file must still have somewhere to go.
  EXPECT_TRUE(prefs->Directory());
  if (oldHome) setenv("HOME", savedHome.c_str(), 1);
  if (oldXdg) setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
}

TEST(Files, ItemsAreNumberedFromOneInByteOrderOfNames) {
  TempDir tmp;
  for (const char* n : {"b.txt", "B.txt", "a.txt", "9.txt", "10.txt", "\xc3\xa9.txt", "20240305090403 0.txt"})
    WriteFile(tmp / n, "x");
  std::filesystem::create_directory(tmp / "sub");
  WriteFile(tmp / ".hidden.txt", "x");
  auto folder = FolderItem::FromPath(tmp.path());
  EXPECT_EQ(Listed(folder), (std::vector<String>{"10.txt", "20240305090403 0.txt", "9.txt", "B.txt", "a.txt",
                                                 "b.txt", "sub", "\xc3\xa9.txt"}));
  EXPECT_TRUE(folder->Item(0).IsNil());
  EXPECT_TRUE(folder->Item(folder->Count() + 1).IsNil());
  EXPECT_EQ(folder->Item(1)->NativePath(), tmp / "10.txt");
}

// A listing loop begins with Count; it shows what others changed before it.
void ListingSeesFilesAddedAndRemovedByOthersIn(const std::string& dir) {
  auto folder = FolderItem::FromPath(dir);
  auto sameFolder = FolderItem::FromPath(dir + "/");
  EXPECT_EQ(folder->Count(), 0);
  // Back to back, faster than the file system's timestamps move.
  for (int i = 0; i < 30; ++i) {
    std::string name = "f" + std::to_string(i) + ".txt";
    WriteFile(dir + "/" + name, "x");
    ASSERT_EQ(folder->Count(), 1) << "added " << name;
    ASSERT_EQ(folder->Item(1)->Name(), name);
    std::filesystem::remove(dir + "/" + name);
    ASSERT_EQ(sameFolder->Count(), 0) << "removed " << name;
  }
  std::filesystem::create_directory(dir + "/Calls");
  EXPECT_EQ(folder->Count(), 1);
  // A change of this process through another item of the same folder.
  folder->Child("Calls")->Delete();
  EXPECT_EQ(sameFolder->Count(), 0);
  sameFolder->Child("made")->CreateAsFolder();
  EXPECT_EQ(Listed(folder), std::vector<String>{"made"});
}

TEST(Files, ListingSeesFilesAddedAndRemovedByOthers) {
  TempDir tmp;
  ListingSeesFilesAddedAndRemovedByOthersIn(tmp.path());
}

// A folder behind one that may be searched but not read cannot be watched;
// its listing is checked by stat instead.
TEST(Files, ListingOfAFolderThatCannotBeWatchedSeesFilesAddedAndRemovedByOthers) {
  TempDir tmp;
  std::filesystem::create_directories(tmp / "locked/calls");
  chmod((tmp / "locked").c_str(), 0111);
  PermissionsBind bind;
  ListingSeesFilesAddedAndRemovedByOthersIn(tmp / "locked/calls");
}

TEST(Files, OwnWriteDoesNotHideAnotherProcesssEarlierChange) {
  TempDir tmp;
  auto folder = FolderItem::FromPath(tmp.path());
  EXPECT_EQ(folder->Count(), 0);
  WriteFile(tmp / "theirs.txt", "x");  // not yet seen by a Count
  auto out = folder->Child("ours.txt")->CreateTextFile();
  out->Write("y");
  out->Close();
  EXPECT_EQ(Listed(folder), (std::vector<String>{"ours.txt", "theirs.txt"}));
}

TEST(Files, NewFileAppearsOnlyOnceClosedAndHoldsExactlyItsBytes) {
  TempDir tmp;
  auto folder = FolderItem::FromPath(tmp.path());
  auto item = folder->Child("20240305090403" "0.txt");
  EXPECT_EQ(folder->Count(), 0);
  auto out = item->CreateTextFile();
  ASSERT_FALSE(out.IsNil());
  const char raw[] = "12:01 ext 204 \xff\x01 0:03:12";
  const String record(raw, sizeof raw - 1);
  out->Write(record);
  EXPECT_EQ(folder->Count(), 0);
  EXPECT_FALSE(item->Exists());
  out->Close();
  EXPECT_EQ(folder->Count(), 1);
  EXPECT_EQ(folder->Item(1)->MacType(), "TEXT");
  EXPECT_EQ(ReadFile(item->NativePath()), record);
  EXPECT_EQ(AllNames(tmp.path()), std::vector<std::string>{item->Name()});  // no temporary left behind
  EXPECT_EQ(ReadThrough(folder->Item(1)), record);
  out->Close();  // a second Close changes nothing
  EXPECT_EQ(ReadFile(item->NativePath()), record);
}

TEST(Files, WriteLineEndsWithLineFeedAndCloseReplacesTheTarget) {
  TempDir tmp;
  WriteFile(tmp / "lineKeeper.prefs", "old contents");
  auto item = FolderItem::FromPath(tmp / "lineKeeper.prefs");
  EXPECT_EQ(ReadThrough(item), "old contents");
  auto out = item->CreateTextFile();
  out->WriteLine("port\t/dev/ttyS0");
  out->WriteLine("baud\t4");
  EXPECT_EQ(ReadThrough(item), "old contents");  // unchanged until Close
  out->Close();
  EXPECT_EQ(ReadThrough(item), "port\t/dev/ttyS0\nbaud\t4\n");
}

TEST(Files, MacTypeTellsTextFilesFoldersAndOthersApart) {
  TempDir tmp;
  WriteFile(tmp / "plain.txt", "x");
  WriteFile(tmp / "notes", "x");
  std::filesystem::create_directory(tmp / "Calls");
  auto folder = FolderItem::FromPath(tmp.path());
  auto out = folder->Child("made by us")->CreateTextFile();
  out->Write("x");
  out->Close();
  std::map<String, String> types;
  for (Int32 i = 1; i <= folder->Count(); ++i) types[folder->Item(i)->Name()] = folder->Item(i)->MacType();
  EXPECT_EQ(types, (std::map<String, String>{
                       {"Calls", "fold"}, {"made by us", "TEXT"}, {"notes", ""}, {"plain.txt", "TEXT"}}));
  // The same answers for items not reached through the listing.
  EXPECT_EQ(folder->Child("made by us")->MacType(), "TEXT");
  EXPECT_EQ(folder->Child("notes")->MacType(), "");
  EXPECT_EQ(folder->Child("Calls")->MacType(), "fold");
  EXPECT_EQ(folder->Child("missing.txt")->MacType(), "");
}

TEST(Files, ReadLineEndsLinesAtCrLfOrCrLf) {
  TempDir tmp;
  struct Row {
    String content;
    std::vector<String> lines;
  };
  const String longLine(70000, 'x');  // the CR LF falls across the first read
  const Row rows[] = {
      {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n", {"a"}},
      {"a\r", {"a"}},
      {"\r\n", {""}},
      {"", {}},
      {"only one record", {"only one record"}},
      {String(65535, 'y') + "\r\nz", {String(65535, 'y'), "z"}},
      {longLine + "\r\n" + longLine, {longLine, longLine}},
  };
  int n = 0;
  for (const auto& r : rows) {
    // Read plainly, then twice through a listing: once from the file, once
    // from the first line its cache holds.
    const std::string dir = tmp / std::to_string(++n);
    std::filesystem::create_directory(dir);
    WriteFile(dir + "/f.txt", r.content);
    auto folder = FolderItem::FromPath(dir);
    ASSERT_EQ(folder->Count(), 1);
    for (const Ref<FolderItem>& item : {FolderItem::FromPath(dir + "/f.txt"), folder->Item(1), folder->Item(1)}) {
      auto in = item->OpenAsTextFile();
      ASSERT_FALSE(in.IsNil());
      std::vector<String> lines;
      while (!in->EndOfFile() && lines.size() < 10) lines.push_back(in->ReadLine());
      EXPECT_EQ(lines, r.lines) << "content of " << r.content.size() << " bytes";
      in->Close();
      EXPECT_EQ(item->OpenAsTextFile()->ReadAll(), r.content);
    }
  }
}

// A file written here is listed from what was written, without reading it
// back; whatever others do to it before the next listing loop must show.
TEST(Files, FileChangedRightAfterItWasWrittenHereIsListedAsItIsNow) {
  struct Row {
    const char* what;
    std::function<void(const std::string&)> change;
    std::vector<String> rows;
  };
  const Row rows[] = {
      {"left alone", [](const std::string&) {}, {"first record"}},
      {"rewritten in place", [](const std::string& p) { WriteFile(p, "other record"); }, {"other record"}},
      {"grown", [](const std::string& p) { std::ofstream(p, std::ios::app) << " grown\r\nnext"; }, {"first record grown"}},
      {"replaced", [](const std::string& p) {
         WriteFile(p + ".new", "replacement");
         std::filesystem::rename(p + ".new", p);
       }, {"replacement"}},
      {"removed", [](const std::string& p) { std::filesystem::remove(p); }, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    TempDir tmp;
    auto folder = FolderItem::FromPath(tmp.path());
    ASSERT_EQ(folder->Count(), 0);
    auto out = folder->Child("a.txt")->CreateTextFile();
    out->Write("first record");
    out->Close();
    r.change(tmp / "a.txt");
    std::vector<String> listed;
    for (Int32 i = 1; i <= folder->Count(); ++i) {
      Ref<FolderItem> item = folder->Item(i);
      if (item->MacType() == "TEXT") listed.push_back(item->OpenAsTextFile()->ReadLine());
    }
    EXPECT_EQ(listed, r.rows);
  }
}

// An entry listed as a text file that has become a FIFO or a device by the
// time it is opened: opening it must neither block nor read without end.
TEST(Files, ListedFileReplacedByAFifoOrADeviceOpensAsNilWithoutBlocking) {
  TempDir tmp;
  struct Row {
    const char* what;
    std::function<void(const std::string&)> replace;
  };
  const Row rows[] = {
      {"fifo", [](const std::string& p) { ASSERT_EQ(mkfifo((p + ".new").c_str(), 0600), 0); }},
      {"device", [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p + ".new"); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const std::string dir = tmp / r.what, path = dir + "/x.txt";
    std::filesystem::create_directory(dir);
    WriteFile(path, "a call");
    auto folder = FolderItem::FromPath(dir);
    ASSERT_EQ(folder->Count(), 1);
    Ref<FolderItem> item = folder->Item(1);
    ASSERT_EQ(item->MacType(), "TEXT");
    r.replace(path);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
    // Opened off the event loop: a blocked open is released after the deadline
    // by a writer, so that the test fails instead of hanging.
    auto opened = std::async(std::launch::async, [&] { return item->OpenAsTextFile().IsNil(); });
    bool finished = opened.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!finished) {
      int w = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (w >= 0) close(w);
    }
    ASSERT_TRUE(finished) << "opening blocked";
    EXPECT_TRUE(opened.get()) << "a stream was made for what is no longer a regular file";
  }
}

TEST(Files, ReadingAgainSeesAFileRewrittenInPlace) {
  TempDir tmp;
  auto item = FolderItem::FromPath(tmp / "c.txt");
  for (char c = 'a'; c <= 'z'; ++c) {
    String content(5, c);  // same size each time, written within one timestamp step
    WriteFile(item->NativePath(), content);
    ASSERT_EQ(ReadThrough(item), content);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(ReadThrough(item), String(5, 'z'));
  WriteFile(item->NativePath(), "12345");
  EXPECT_EQ(ReadThrough(item), "12345");
}

// Rewritten in place by another process with as many bytes, within one
// timestamp step: nothing a stat would tell apart from the kept contents.
TEST(Files, FileRewrittenInPlaceByAnotherProcessIsReadAfreshOnceTheLoopHasRun) {
  TempDir tmp;
  const std::string path = tmp / "c.txt";
  WriteFile(path, "aaaaa");
  auto folder = FolderItem::FromPath(tmp.path());
  ASSERT_EQ(folder->Count(), 1);
  ASSERT_EQ(ReadThrough(folder->Item(1)), "aaaaa");
  for (std::string content : {"bbbbb", "ccccc"}) {
    ASSERT_EQ(std::system(("printf " + content + " 1<> '" + path + "'").c_str()), 0);
    EXPECT_TRUE(RunEventLoopUntil([&] { return ReadThrough(folder->Item(1)) == content; }, 5000)) << content;
    EXPECT_EQ(ReadThrough(FolderItem::FromPath(path)), content);
  }
  // Permissions taken away show the same way.
  chmod(path.c_str(), 0);
  PermissionsBind bind;
  EXPECT_TRUE(RunEventLoopUntil([&] { return ReadThrough(folder->Item(1)) == "<nil>"; }, 5000));
}

// Each way leaves another folder at the listed path, holding a file of the
// same name and size as one read from the old folder.
TEST(Files, FolderReplacedUnderItsPathIsListedAndReadAfresh) {
  namespace fs = std::filesystem;
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> ways = {
      {"removed and made again", [](const std::string& root) { fs::remove_all(root + "/p/Calls"); }},
      {"renamed away", [](const std::string& root) { fs::rename(root + "/p/Calls", root + "/p/Old"); }},
      {"its parent renamed away", [](const std::string& root) { fs::rename(root + "/p", root + "/old"); }},
  };
  for (const auto& [way, replace] : ways) {
    SCOPED_TRACE(way);
    TempDir tmp;
    const std::string calls = tmp / "p/Calls";
    fs::create_directories(calls);
    WriteFile(calls + "/a.txt", "old record");
    WriteFile(calls + "/b.txt", "other");
    auto folder = FolderItem::FromPath(calls);
    ASSERT_EQ(Listed(folder), (std::vector<String>{"a.txt", "b.txt"}));
    ASSERT_EQ(ReadThrough(folder->Item(1)), "old record");
    replace(tmp.path());
    fs::create_directories(calls);
    WriteFile(calls + "/a.txt", "new record");
    EXPECT_TRUE(RunEventLoopUntil(
        [&] {
          return Listed(folder) == std::vector<String>{"a.txt"} && ReadThrough(folder->Item(1)) == "new record";
        },
        5000));
  }
}

// Events lost to a full queue may have said anything: everything kept is read afresh.
TEST(Files, ChangesLostToAnEventQueueOverflowAreStillSeen) {
  std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
  long limit = 0;
  if (!(limitFile >> limit) || limit > 1'000'000) GTEST_SKIP() << "no inotify queue limit to overflow";
  TempDir tmp;
  WriteFile(tmp / "a.txt", "old record");
  auto folder = FolderItem::FromPath(tmp.path());
  ASSERT_EQ(ReadThrough(folder->Item(folder->Count())), "old record");
  // Each rewrite queues a modification and a close, which do not merge.
  const std::string noise = tmp / "noise";
  for (long i = 0; i < limit; ++i) {
    int fd = open(noise.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_TRUE(fd >= 0 && write(fd, "x", 1) == 1);
    close(fd);
  }
  WriteFile(tmp / "a.txt", "new record");
  WriteFile(tmp / "b.txt", "late");
  EXPECT_TRUE(RunEventLoopUntil(
      [&] {
        return Listed(folder) == std::vector<String>{"a.txt", "b.txt", "noise"} &&
               ReadThrough(folder->Item(1)) == "new record";
      },
      5000));
}

TEST(Files, StreamsThatCannotBeMadeAreNil) {
  TempDir tmp;
  std::filesystem::create_directory(tmp / "folder");
  WriteFile(tmp / "secret.txt", "x");
  chmod((tmp / "secret.txt").c_str(), 0);
  std::filesystem::create_directory(tmp / "ro");
  chmod((tmp / "ro").c_str(), 0555);
  PermissionsBind bind;
  EXPECT_TRUE(FolderItem::FromPath(tmp / "missing.txt")->OpenAsTextFile().IsNil());
  EXPECT_TRUE(FolderItem::FromPath(tmp / "folder")->OpenAsTextFile().IsNil());
  EXPECT_TRUE(FolderItem::FromPath(tmp / "secret.txt")->OpenAsTextFile().IsNil());
  EXPECT_TRUE(FolderItem::FromPath(tmp / "nofolder/x.txt")->CreateTextFile().IsNil());
  EXPECT_TRUE(FolderItem::FromPath(tmp / "ro/x.txt")->CreateTextFile().IsNil());
  EXPECT_TRUE(FolderItem::FromPath(tmp / "folder")->CreateTextFile().IsNil());
  auto ro = FolderItem::FromPath(tmp / "ro");
  ro->Child("Calls")->CreateAsFolder();
  EXPECT_FALSE(ro->Child("Calls")->Exists());
}

TEST(Files, CloseIntoAFolderTurnedReadOnlyRaisesAndLeavesNothing) {
  TempDir tmp;
  WriteFile(tmp / "existing.txt", "old");
  auto folder = FolderItem::FromPath(tmp.path());
  EXPECT_EQ(folder->Count(), 1);
  auto fresh = folder->Child("new.txt")->CreateTextFile();
  auto replacing = folder->Child("existing.txt")->CreateTextFile();
  ASSERT_FALSE(fresh.IsNil());
  ASSERT_FALSE(replacing.IsNil());
  fresh->Write("record");
  replacing->Write("new");
  chmod(tmp.path().c_str(), 0555);
  {
    PermissionsBind bind;
    EXPECT_THROW(fresh->Close(), IOException);
    EXPECT_THROW(replacing->Close(), IOException);
  }
  EXPECT_EQ(AllNames(tmp.path()), std::vector<std::string>{"existing.txt"});
  EXPECT_EQ(ReadFile(tmp / "existing.txt"), "old");
  EXPECT_EQ(Listed(folder), std::vector<String>{"existing.txt"});
}

TEST(Files, CloseOnAFullDiskRaisesAndKeepsTheOldFile) {
  TempDir tmp;
  WriteFile(tmp / "existing.txt", "old");
  auto out = FolderItem::FromPath(tmp / "existing.txt")->CreateTextFile();
  out->Write(String(4096, 'r'));
  // A file size limit fails the write as a full disk would.
  struct rlimit saved {};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 100;
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_THROW(out->Close(), IOException);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(AllNames(tmp.path()), std::vector<std::string>{"existing.txt"});
  EXPECT_EQ(ReadFile(tmp / "existing.txt"), "old");
}

TEST(Files, StreamDroppedWithoutCloseLeavesNothing) {
  TempDir tmp;
  {
    auto out = FolderItem::FromPath(tmp / "big.txt")->CreateTextFile();
    for (int i = 0; i < 3; ++i) out->Write(String(1 << 20, 'b'));  // large enough to reach the disk
    EXPECT_FALSE(AllNames(tmp.path()).empty());
  }
  EXPECT_TRUE(AllNames(tmp.path()).empty());
  auto out = FolderItem::FromPath(tmp / "big.txt")->CreateTextFile();
  for (int i = 0; i < 3; ++i) out->Write(String(1 << 20, 'b'));
  out->Close();
  EXPECT_EQ(std::filesystem::file_size(tmp / "big.txt"), 3u << 20);
  EXPECT_EQ(AllNames(tmp.path()), std::vector<std::string>{"big.txt"});
}

// The main window rebuilds its list this way after every call file.
TEST(Files, ListingLoopOverManyFilesDoesNotRescanOrReopenPerItem) {
  TempDir tmp;
  constexpr int kFiles = 20000;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    snprintf(name, sizeof name, "2024030509%06d0.txt", i);
    WriteFile(tmp / name, std::string("record ") + name);
  }
  auto folder = FolderItem::FromPath(tmp.path());
  auto rebuild = [&] {
    int shown = 0;
    for (Int32 i = 1; i <= folder->Count(); ++i) {
      auto f = folder->Item(i);
      if (f->MacType() != "TEXT") continue;
      auto in = f->OpenAsTextFile();
      if (in->ReadLine().View().rfind("record ", 0) == 0) ++shown;
      in->Close();
    }
    return shown;
  };
  EXPECT_EQ(rebuild(), kFiles);  // the first pass reads every file once
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto out = folder->Child("202403051000000.txt")->CreateTextFile();
  out->Write("record new");
  out->Close();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rebuild(), kFiles + 1);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  // Generous for sanitizer builds, far below a rescan or reopen per item.
  EXPECT_LT(ms, 1000) << "rebuild took " << ms << " ms";
}

// While lowered, no new file descriptor can be opened.
class NoFileDescriptorsLeft {
 public:
  NoFileDescriptorsLeft() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    const int lowestFree = dup(2);
    close(lowestFree);
    rlimit low = saved_;
    low.rlim_cur = static_cast<rlim_t>(lowestFree);
    setrlimit(RLIMIT_NOFILE, &low);
  }
  ~NoFileDescriptorsLeft() { setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

// A folder that could not be read was listed as empty and current until the
// next change event. It is not current: the next pass reads it again, and
// standard error says once why it failed.
TEST(Files, FolderThatCouldNotBeListedIsReadAgainByTheNextPassAndSaidOnce) {
  TempDir tmp, other;
  for (const char* n : {"a.txt", "b.txt", "c.txt"}) WriteFile(tmp / n, "x");
  EXPECT_EQ(FolderItem::FromPath(other.path())->Count(), 0);  // the watcher is there before descriptors run out
  auto folder = FolderItem::FromPath(tmp.path());
  tptest::StderrCapture err;
  {
    NoFileDescriptorsLeft none;
    EXPECT_EQ(folder->Count(), 0);
    EXPECT_EQ(folder->Count(), 0);
  }
  EXPECT_EQ(Listed(folder), (std::vector<String>{"a.txt", "b.txt", "c.txt"}));
  EXPECT_EQ(err.Lines(), std::vector<std::string>{"TallyPoint: cannot list folder " + tmp.path() + ": " +
                                                  std::strerror(EMFILE)});
}

}  // namespace
