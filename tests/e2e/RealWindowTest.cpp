// The real program in a real X session (Xvfb), driven with xdotool as a user
// would: fold and unfold, "Preferences…" by its shortcut, quit through the
// confirmation dialog. Screenshots go into the build folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <set>

#include "support/CallFolder.h"
#include "support/ChildProcess.h"
#include "support/ChildProgram.h"
#include "support/Pty.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

namespace tptest {
namespace {

// ------------------------------------------------------------- screenshots

struct Rgb {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;  // r, g, b per pixel, rows top down
  size_t DistinctColours() const {
    std::set<uint32_t> seen;
    for (size_t i = 0; i + 2 < pixels.size(); i += 3) seen.insert(pixels[i] << 16 | pixels[i + 1] << 8 | pixels[i + 2]);
    return seen.size();
  }
  bool operator==(const Rgb&) const = default;
};

uint32_t Be32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 | uint32_t(uint8_t(s[at + 2])) << 8 |
         uint32_t(uint8_t(s[at + 3]));
}

int Shift(uint32_t mask) {
  int s = 0;
  while (mask && !(mask & 1)) mask >>= 1, ++s;
  return s;
}

// A rectangle of the screen, read from the XWD image that Xvfb keeps in its
// -fbdir file (big-endian header, pixels in the server's byte order).
std::optional<Rgb> Crop(const std::string& xwd, int x, int y, int w, int h) {
  if (xwd.size() < 100 || Be32(xwd, 4) != 7) return std::nullopt;
  const uint32_t headerSize = Be32(xwd, 0), width = Be32(xwd, 16), height = Be32(xwd, 20),
                 byteOrder = Be32(xwd, 28), bpp = Be32(xwd, 44), bytesPerLine = Be32(xwd, 48),
                 red = Be32(xwd, 56), green = Be32(xwd, 60), blue = Be32(xwd, 64), colours = Be32(xwd, 76);
  if (bpp != 32 || x < 0 || y < 0 || w <= 0 || h <= 0 || uint32_t(x + w) > width || uint32_t(y + h) > height)
    return std::nullopt;
  const size_t data = headerSize + size_t(colours) * 12;
  if (xwd.size() < data + size_t(bytesPerLine) * height) return std::nullopt;
  Rgb img{w, h, {}};
  img.pixels.reserve(size_t(w) * h * 3);
  for (int row = y; row < y + h; ++row)
    for (int col = x; col < x + w; ++col) {
      const size_t at = data + size_t(row) * bytesPerLine + size_t(col) * 4;
      uint32_t p = 0;
      for (int i = 0; i < 4; ++i) {
        const uint32_t byte = uint8_t(xwd[at + i]);
        p |= byteOrder == 0 ? byte << (8 * i) : byte << (8 * (3 - i));
      }
      img.pixels.push_back(uint8_t((p & red) >> Shift(red)));
      img.pixels.push_back(uint8_t((p & green) >> Shift(green)));
      img.pixels.push_back(uint8_t((p & blue) >> Shift(blue)));
    }
  return img;
}

uint32_t Crc32(const std::string& s) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char ch : s) c = table[(c ^ ch) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void PutBe32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(char((v >> (8 * i)) & 0xFF));
}

// An RGB PNG with stored (uncompressed) deflate blocks: plain, and enough for a screenshot.
std::string Png(const Rgb& img) {
  std::string raw;
  for (int row = 0; row < img.height; ++row) {
    raw.push_back(0);  // filter: none
    raw.append(reinterpret_cast<const char*>(img.pixels.data()) + size_t(row) * img.width * 3, size_t(img.width) * 3);
  }
  std::string z = {0x78, 0x01};
  for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z.push_back(at + n >= raw.size() ? 1 : 0);
    z.push_back(char(n & 0xFF)), z.push_back(char(n >> 8));
    z.push_back(char(~n & 0xFF)), z.push_back(char((~n >> 8) & 0xFF));
    z.append(raw, at, n);
    if (raw.empty()) break;
  }
  uint32_t a = 1, b = 0;
  for (unsigned char ch : raw) a = (a + ch) % 65521, b = (b + a) % 65521;
  PutBe32(z, b << 16 | a);

  std::string png = "\x89PNG\r\n\x1a\n";
  auto chunk = [&](const std::string& type, const std::string& body) {
    PutBe32(png, uint32_t(body.size()));
    png += type + body;
    PutBe32(png, Crc32(type + body));
  };
  std::string ihdr;
  PutBe32(ihdr, uint32_t(img.width));
  PutBe32(ihdr, uint32_t(img.height));
  ihdr += std::string{8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, no filter choice, no interlace
  chunk("IHDR", ihdr);
  chunk("IDAT", z);
  chunk("IEND", "");
  return png;
}

// ------------------------------------------------------------- X session

struct Geometry {
  long window = 0;
  int x = 0, y = 0, width = 0, height = 0;
};

class XSession {
 public:
  // Starts Xvfb on a free display; ok() tells whether it came up.
  XSession(const std::string& xvfb, const std::string& xdotool) : xdotool_(xdotool) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    SpawnOptions o;
    o.argv = {xvfb, "-displayfd", std::to_string(fds[1]), "-fbdir", dir_.path(), "-screen", "0", "1024x768x24",
              "-nolisten", "tcp"};
    o.passFd = fds[1];
    o.stderrPath = dir_ / "xvfb.log";
    server_.Start(o);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
      if (poll(&p, 1, 200) <= 0) continue;
      char buf[16];
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, size_t(n));
    }
    close(fds[0]);
    if (number.find('\n') != std::string::npos) display_ = ":" + number.substr(0, number.find('\n'));
  }

  bool ok() const { return !display_.empty(); }
  const std::string& display() const { return display_; }
  std::string log() const { return tptest::ReadFile(dir_ / "xvfb.log"); }

  CommandResult Xdo(std::vector<std::string> args) {
    args.insert(args.begin(), xdotool_);
    return RunCommand(args, {{"DISPLAY", display_}});
  }

  std::vector<long> Windows(std::vector<std::string> search) {
    search.insert(search.begin(), {"search", "--onlyvisible"});
    std::stringstream out(Xdo(search).out);
    std::vector<long> ids;
    for (long id; out >> id;) ids.push_back(id);
    return ids;
  }

  std::optional<Geometry> GeometryOf(long window) {
    auto r = Xdo({"getwindowgeometry", "--shell", std::to_string(window)});
    if (r.status != 0) return std::nullopt;
    Geometry g{window};
    std::stringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
      auto eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq);
      const int value = std::atoi(line.c_str() + eq + 1);
      if (key == "X") g.x = value;
      if (key == "Y") g.y = value;
      if (key == "WIDTH") g.width = value;
      if (key == "HEIGHT") g.height = value;
    }
    return g;
  }

  std::optional<Rgb> Shot(const Geometry& g) {
    return Crop(tptest::ReadFile(dir_ / "Xvfb_screen0"), g.x, g.y, g.width, g.height);
  }

  // Waits until the window has been drawn: two looks in a row that show a
  // picture. (It never stands still while the progress wheel turns.)
  std::optional<Rgb> DrawnShot(const Geometry& g) {
    std::optional<Rgb> shot;
    int drawn = 0;
    WaitFor([&] {
      shot = Shot(g);
      drawn = shot && shot->DistinctColours() > 2 ? drawn + 1 : 0;
      return drawn >= 2;
    }, 10s, 300ms);
    return drawn >= 2 ? shot : std::nullopt;
  }

 private:
  tptest::TempDir dir_;
  std::string xdotool_, display_;
  Child server_;
};

void SavePng(const std::optional<Rgb>& img, const std::string& name) {
  if (img) tptest::WriteFile(std::string(TALLYPOINT_BUILD_DIR) + "/" + name, Png(*img));
}

TEST(RealWindow, FoldUnfoldPreferencesShortcutAndConfirmedQuitWritesTheSettings) {
  const std::string xvfb = FindOnPath("Xvfb"), xdotool = FindOnPath("xdotool");
  if (xvfb.empty() || xdotool.empty())
    GTEST_SKIP() << "needs Xvfb and xdotool (Debian packages xvfb and xdotool), not installed here";
  XSession x(xvfb, xdotool);
  ASSERT_TRUE(x.ok()) << "Xvfb did not start:\n" << x.log();

  Pty pty{Pty::Line::LeftToTheOpener};
  ChildProgram program;
  // Keys out of order and a line the program ignores: only a confirmed quit
  // rewrites the file, in its own order.
  const std::string prepared =
      "bits\t2\nstop\t1\nparity\t2\nbaud\t8\nport\t" + pty.slavePath() + "\nnote\tkept until quit\n";
  tptest::WriteFile(program.PrefsPath(), prepared);
  ChildProgram::Options o;
  o.serialPorts = pty.slavePath();
  o.modalLog = false;
  o.platform = "xcb";
  o.env["DISPLAY"] = x.display();
  // Under LeakSanitizer: the session bus library that Qt's X11 platform loads
  // leaks a buffer of its own at exit; that is not the program's to answer for.
  const std::string suppressions = program.root / "lsan.supp";
  tptest::WriteFile(suppressions, "leak:libdbus-1.so\n");
  const char* lsan = getenv("LSAN_OPTIONS");
  o.env["LSAN_OPTIONS"] = (lsan && *lsan ? std::string(lsan) + ":" : "") + "suppressions=" + suppressions;
  program.Start(o);

  std::vector<long> mains;
  ASSERT_TRUE(WaitFor([&] { return !(mains = x.Windows({"--name", "^TallyPoint$"})).empty(); }, 20s))
      << "no window \"TallyPoint\" on " << x.display() << program.Diagnostics();
  const long main = mains.front();
  std::optional<Geometry> folded;
  ASSERT_TRUE(WaitFor([&] { return (folded = x.GeometryOf(main)) && folded->width == 603; }, 10s));
  // A menu bar inside the window sits above the content, which is 30 high folded.
  const int menuBar = folded->height - 30;
  ASSERT_GE(menuBar, 0) << "folded window is " << folded->height << " high";
  ASSERT_LT(menuBar, 80) << "folded window is " << folded->height << " high";
  auto foldedShot = x.DrawnShot(*folded);
  ASSERT_TRUE(foldedShot) << "the folded window was never drawn";
  SavePng(foldedShot, "e2e-window-folded.png");

  x.Xdo({"windowfocus", std::to_string(main)});
  x.Xdo({"mousemove", "--window", std::to_string(main), "20", std::to_string(menuBar + 15)});
  x.Xdo({"click", "1"});
  x.Xdo({"mousemove", "1000", "740"});  // out of the pictures
  std::optional<Geometry> unfolded;
  ASSERT_TRUE(WaitFor([&] { return (unfolded = x.GeometryOf(main)) && unfolded->height == menuBar + 400; }, 10s))
      << "a click on the triangle did not unfold the window to 400";
  auto unfoldedShot = x.DrawnShot(*unfolded);
  ASSERT_TRUE(unfoldedShot);
  SavePng(unfoldedShot, "e2e-window-unfolded.png");

  x.Xdo({"windowfocus", std::to_string(main)});
  x.Xdo({"key", "ctrl+comma"});
  std::vector<long> prefs;
  ASSERT_TRUE(WaitFor([&] { return !(prefs = x.Windows({"--name", "^Preferences$"})).empty(); }, 10s))
      << "ctrl+comma did not open \"Preferences\"" << program.Diagnostics();
  if (auto g = x.GeometryOf(prefs.front())) SavePng(x.DrawnShot(*g), "e2e-window-preferences.png");

  // Windows of the program other than the main window and the preferences.
  auto others = [&] {
    std::vector<long> found;
    for (long w : x.Windows({"--pid", std::to_string(program.process.pid())}))
      if (w != main && w != prefs.front()) found.push_back(w);
    return found;
  };
  auto confirmation = [&] {
    std::vector<long> found;
    WaitFor([&] { return !(found = others()).empty(); }, 10s);
    return found.empty() ? std::nullopt : std::optional<long>(found.back());
  };

  // Quit asked and cancelled: the program runs on and the file stays as it was.
  x.Xdo({"windowfocus", std::to_string(main)});
  x.Xdo({"key", "ctrl+q"});
  auto dialog = confirmation();
  ASSERT_TRUE(dialog) << "ctrl+q showed no confirmation dialog" << program.Diagnostics();
  if (auto g = x.GeometryOf(*dialog)) SavePng(x.DrawnShot(*g), "e2e-window-quit-confirmation.png");
  // Calls go on while the question waits for an answer.
  ASSERT_TRUE(pty.Raw()) << "the serial port was not opened";
  pty.Write("during the quit question\r\n");
  EXPECT_TRUE(WaitFor([&] { return Contents(ReadCalls(program.calls)) ==
                                   std::vector<std::string>{"during the quit question"}; }, 10s))
      << "a record that came while the quit confirmation was up was not written" << program.Diagnostics();
  x.Xdo({"windowfocus", std::to_string(*dialog)});
  x.Xdo({"key", "Escape"});
  ASSERT_TRUE(WaitFor([&] { return others().empty(); }, 10s)) << "Escape did not close the confirmation";
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(program.process.Running()) << "a cancelled quit ended the program" << program.Diagnostics();
  EXPECT_EQ(tptest::ReadFile(program.PrefsPath()), prepared) << "a cancelled quit touched the settings file";

  // Quit confirmed with the dialog's default button, "Quit".
  x.Xdo({"windowfocus", std::to_string(main)});
  x.Xdo({"key", "ctrl+q"});
  dialog = confirmation();
  ASSERT_TRUE(dialog) << "the second ctrl+q showed no confirmation dialog" << program.Diagnostics();
  x.Xdo({"windowfocus", std::to_string(*dialog)});
  x.Xdo({"key", "Return"});
  auto status = program.process.WaitExit(15s);
  ASSERT_TRUE(status) << "the program did not end after \"Quit\"" << program.Diagnostics();
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
      << "a confirmed quit ended with wait status " << *status << program.Diagnostics();
  EXPECT_EQ(tptest::ReadFile(program.PrefsPath()),
            "port\t" + pty.slavePath() + "\nbaud\t8\nparity\t2\nstop\t1\nbits\t2\n")
      << program.Diagnostics();
}

}  // namespace
}  // namespace tptest
