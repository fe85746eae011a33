// The host's console user interface (see ui.h).
#include "velkar/console/ui.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "velkar/shop/codepage.h"
#include "velkar/core/host_state.h"
#include "velkar/core/reset.h"
#include "velkar/shop/shop.h"
#include "velkar/console/windows_console.h"

#ifdef _WIN32
#include <conio.h>
#include <io.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <poll.h>
#include <cerrno>
#include <csignal>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace velkar::ui {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Progress {
  bool active = false;
  int kind = 0;
  int done = 0, total = 0;
  int drawnPercent = -1;
  Clock::time_point drawnAt{};
  bool lineOpen = false;  // a progress line stands on the terminal without its line end
  std::unique_ptr<RawMode> raw;
};

struct State {
  std::deque<std::string> script;
  std::vector<Shown> shown;
  bool interactive = false;
  std::ostream* out = nullptr;
  std::optional<Style> style;
#ifdef _WIN32
  Frames frames = Frames::Ascii;
#else
  Frames frames = Frames::Box;
#endif
  int textWidth = 76;
  bool waitShown = false;
  Progress progress;
  std::optional<long> stopAfter;
  long stopPolls = 0;
  int fullScreen = 0;  // a full-screen dialog is on the terminal
};

State& state() {
  static State s;
  return s;
}

void resetUi() {
  State& s = state();
  s.progress.raw.reset();
  s = State{};
}

ResetHook resetHook(&resetUi);

std::string trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return std::string(text.substr(b, e - b));
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// UTF-8 of each Mazovia byte, built once.
const std::string& byteUtf8(unsigned char b) {
  static const std::array<std::string, 256> table = [] {
    std::array<std::string, 256> t;
    for (int i = 0; i < 256; ++i) {
      const char c = static_cast<char>(i);
      t[i] = codepage::toUtf8(std::string_view(&c, 1), codepage::MAZOVIA);
    }
    return t;
  }();
  return table[b];
}

// On a terminal, the frame (the text, a margin and an edge each side) stays one column short of
// its width: a console that wraps as soon as its last column is written (the Windows console)
// would otherwise leave an empty line under each line of the window.
int maxTextWidth() {
  if (!outputIsTerminal()) return state().textWidth;
  return std::max(20, terminalSize().first - 5);
}

// Before any window is drawn, a progress line on the terminal gets its line end, and a dialog
// that fills the terminal is cleared away (it draws itself again when the window is done).
void closeProgressLine() {
  Progress& p = state().progress;
  if (p.lineOpen) {
    out() << "\n";
    p.lineOpen = false;
  }
  if (state().fullScreen > 0 && state().interactive) out() << "\x1b[H\x1b[2J\x1b[?25h";
}

// Whether a 0x01 at text[i] starts a well-formed tab-stop directive; if so, its stops and the
// index just past its closing 0x01.
struct Stop {
  char kind;  // 'l' or 'p'
  int column;
};
bool parseStops(std::string_view text, size_t i, std::vector<Stop>& stops, size_t& next) {
  if (i + 1 >= text.size() || text[i + 1] != 't') return false;
  std::vector<Stop> found;
  size_t j = i + 2;
  while (j < text.size() && text[j] != '\x01') {
    const char k = static_cast<char>(std::tolower(static_cast<unsigned char>(text[j])));
    if (k != 'l' && k != 'p') return false;
    ++j;
    if (j >= text.size() || !std::isdigit(static_cast<unsigned char>(text[j]))) return false;
    int column = 0;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
      column = std::min(column * 10 + (text[j] - '0'), 1000);
      ++j;
    }
    found.push_back({k, column});
  }
  if (j >= text.size() || found.empty()) return false;
  stops = std::move(found);
  next = j + 1;
  return true;
}

class Layouter {
 public:
  explicit Layouter(const LayoutOptions& options) : options_(options) {}

  std::vector<Line> run(std::string_view text, bool markup) {
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char b = static_cast<unsigned char>(text[i]);
      if (b == '\n') {
        endLine();
      } else if (b == '\r') {
        continue;
      } else if (b == '\t') {
        tab();
      } else if (markup && b == 0x02) {
        setEm(true);
      } else if (markup && b == 0x01) {
        size_t next;
        if (parseStops(text, i, stops_, next)) {
          i = next - 1;
        } else {
          setEm(false);
        }
      } else if (markup && options_.dialogMarkup && b == 0x05) {
        setEm(true);
      } else if (markup && options_.dialogMarkup && b == '~') {
        setEm(!em_);
      } else if (b < 0x20) {
        put(" ");
      } else {
        put(byteUtf8(b));
      }
    }
    endLine();
    return std::move(lines_);
  }

 private:
  void put(const std::string& ch) {
    line_.push_back(Cell{ch, static_cast<uint8_t>(em_ ? ATTR_EM : 0)});
  }

  void setEm(bool on) {
    if (on == em_) return;
    if (options_.style == Style::Marked && !on) {
      em_ = false;
      put("*");
    } else if (options_.style == Style::Marked) {
      put("*");
      em_ = true;
    } else {
      em_ = on;
    }
  }

  // Places the text after a right-aligned stop so that it ends just before the stop's column.
  void finishRightAligned() {
    if (!rightColumn_) return;
    const int width = static_cast<int>(line_.size());
    int pad = *rightColumn_ - width;
    if (pad <= 0) pad = rightStart_ > 0 ? 1 : 0;
    line_.insert(line_.begin() + rightStart_, static_cast<size_t>(pad), Cell{" ", 0});
    rightColumn_.reset();
  }

  void tab() {
    finishRightAligned();
    const int column = static_cast<int>(line_.size());
    const bool wasEm = em_;
    em_ = false;  // padding is never emphasised
    if (stops_.empty()) {
      const int target = (column / 8 + 1) * 8;
      for (int c = column; c < target; ++c) put(" ");
    } else {
      auto stop = std::find_if(stops_.begin(), stops_.end(),
                               [&](const Stop& s) { return s.column > column; });
      if (stop == stops_.end()) {
        put(" ");
      } else if (stop->kind == 'l') {
        for (int c = column; c < stop->column; ++c) put(" ");
      } else {
        rightColumn_ = stop->column;
        rightStart_ = line_.size();
      }
    }
    em_ = wasEm;
  }

  void endLine() {
    setEm(false);
    finishRightAligned();
    wrap(std::move(line_));
    line_.clear();
  }

  void wrap(Line line) {
    const size_t max = static_cast<size_t>(std::max(1, options_.maxWidth));
    while (line.size() > max) {
      size_t cut = max;
      while (cut > 0 && line[cut].ch != " ") --cut;
      if (cut == 0) {
        lines_.emplace_back(line.begin(), line.begin() + static_cast<long>(max));
        line.erase(line.begin(), line.begin() + static_cast<long>(max));
      } else {
        lines_.emplace_back(line.begin(), line.begin() + static_cast<long>(cut));
        line.erase(line.begin(), line.begin() + static_cast<long>(cut) + 1);
      }
    }
    lines_.push_back(std::move(line));
  }

  LayoutOptions options_;
  std::vector<Line> lines_;
  Line line_;
  bool em_ = false;
  std::vector<Stop> stops_;
  std::optional<int> rightColumn_;
  size_t rightStart_ = 0;
};

std::string joinText(const std::vector<Line>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) text += '\n';
    text += renderLine(lines[i], Style::Plain);
  }
  return text;
}

Line footerLine(bool ask) {
  const char* text = ask ? "[\x05"
                           "Enter\x01 OK]  [\x05"
                           "Esc\x01 Anuluj]"
                         : "[\x05"
                           "Enter\x01 OK]";
  LayoutOptions o{style(), 76, true};
  return layoutText(text, o).front();
}

fs::path shopFolder() {
  const fs::path& shop = host().shopDir;
  std::error_code ec;
  return shop.empty() ? fs::current_path(ec) : shop;
}

std::vector<std::string> listShopFiles(std::string_view mask) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(shopFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const std::string name = it->path().filename().string();
    if (matchesMask(name, mask)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

#ifndef _WIN32
struct TerminalSaved {
  int depth = 0;
  bool saved = false;
  termios original{};
};
TerminalSaved& terminalSaved() {
  static TerminalSaved t;
  return t;
}

void restoreTerminal() {
  TerminalSaved& t = terminalSaved();
  if (t.saved) tcsetattr(STDIN_FILENO, TCSANOW, &t.original);
}

void restoreAndReraise(int signal) {
  restoreTerminal();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Set when the terminal changes its size; a read waiting for a key is interrupted then.
volatile std::sig_atomic_t terminalResized = 0;
void noteResize(int) {
  terminalResized = 1;
}

// Waits up to `ms` milliseconds for a byte on standard input.
bool inputWaiting(int ms) {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0 && (p.revents & (POLLIN | POLLHUP));
}

int readByte() {
  unsigned char c;
  return ::read(STDIN_FILENO, &c, 1) == 1 ? c : -1;
}

// Waits for the first byte of a key; KEY_RESIZE when the terminal changes its size meanwhile and
// that is to be reported.
int readFirstByte(bool reportResize) {
  for (;;) {
    unsigned char c;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) {
      if (reportResize && terminalResized) {
        terminalResized = 0;
        return KEY_RESIZE;
      }
      continue;
    }
    return -1;
  }
}
#endif

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

int altKey(char letter) {
  static const char* const rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
  static const int starts[] = {0x10, 0x1E, 0x2C};
  const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  for (int r = 0; r < 3; ++r)
    if (const char* at = std::strchr(rows[r], l); at && l) return (starts[r] + (at - rows[r])) << 8;
  return -1;
}

namespace {

int keyForCharacter(int c) {
  switch (c) {
    case '\r':
    case '\n':
      return KEY_ENTER;
    case '\t':
      return KEY_TAB;
    case 0x08:
    case 0x7F:
      return KEY_BACKSPACE;
    case 0x1B:
      return KEY_ESC;
    case ' ':
      return KEY_SPACE;
    default:
      return c & 0xFF;
  }
}

}  // namespace

// --- Configuration and recording ----------------------------------------------------------------

const std::vector<Shown>& shown() {
  return state().shown;
}

FullScreen::FullScreen() {
  ++state().fullScreen;
}
FullScreen::~FullScreen() {
  if (state().fullScreen > 0) --state().fullScreen;
}

void record(Shown s) {
  state().shown.push_back(std::move(s));
}

void setScript(std::vector<std::string> lines) {
  state().script.assign(lines.begin(), lines.end());
}

void addScriptLine(std::string line) {
  state().script.push_back(std::move(line));
}

void setInteractive(bool on) {
  state().interactive = on;
}

bool interactive() {
  return state().interactive;
}

void setOutput(std::ostream* stream) {
  state().out = stream;
}

#ifdef _WIN32
// The UI's output on a console goes through the console's own calls (windows_console.h); the
// code page is for whatever else reaches the console (standard error).
static void prepareConsole() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  SetConsoleOutputCP(CP_UTF8);
  attachConsoleOutput();
}
#endif

std::ostream& out() {
#ifdef _WIN32
  if (!state().out) prepareConsole();
#endif
  return state().out ? *state().out : std::cout;
}

bool outputIsTerminal() {
  if (state().out && state().out != &std::cout) return false;
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(STDOUT_FILENO) != 0;
#endif
}

void setStyle(Style s) {
  state().style = s;
}

Style style() {
  if (state().style) return *state().style;
  const char* noColor = std::getenv("NO_COLOR");
  return outputIsTerminal() && !(noColor && *noColor) ? Style::Ansi : Style::Plain;
}

void setFrames(Frames f) {
  state().frames = f;
}

Frames frames() {
  return state().frames;
}

const FrameGlyphs& frameGlyphs() {
  static const FrameGlyphs box{"─", "│", "┌", "┐", "└", "┘", "•"};
  static const FrameGlyphs ascii{"-", "|", "+", "+", "+", "+", "*"};
  return frames() == Frames::Ascii ? ascii : box;
}

void setTextWidth(int columns) {
  state().textWidth = std::max(20, columns);
}

namespace {

// What follows the kind word of a script line of that kind, trimmed; none for another kind, a
// comment or an empty line.
std::optional<std::string> scriptLineOf(const std::string& raw, std::string_view kind) {
  const std::string line = trim(raw);
  if (line.empty() || line[0] == '#') return std::nullopt;
  const size_t end = line.find_first_of(" \t");
  if (lower(line.substr(0, end)) != kind) return std::nullopt;
  return end == std::string::npos ? "" : trim(line.substr(end));
}

ScriptComplaintHandler& complaintHandler() {
  static ScriptComplaintHandler handler;
  return handler;
}

}  // namespace

std::optional<std::string> takeScript(std::string_view kind) {
  auto& script = state().script;
  for (auto it = script.begin(); it != script.end(); ++it) {
    if (auto rest = scriptLineOf(*it, kind)) {
      script.erase(it);
      return rest;
    }
  }
  return std::nullopt;
}

size_t scriptLinesLeft(std::string_view kind) {
  size_t count = 0;
  for (const std::string& line : state().script)
    if (scriptLineOf(line, kind)) ++count;
  return count;
}

void setScriptComplaintHandler(ScriptComplaintHandler handler) {
  complaintHandler() = std::move(handler);
}

void scriptComplaint(const std::string& kind, const std::string& complaint) {
  if (complaintHandler() && complaintHandler()(kind, complaint)) return;
  std::cerr << "velkar: script: " << (kind.empty() ? "" : kind + ": ") << complaint << "\n";
}

// --- Keys ---------------------------------------------------------------------------------------

namespace {
struct NamedKey {
  const char* name;
  int key;
};
constexpr NamedKey kNamedKeys[] = {
    {"Enter", KEY_ENTER},   {"Esc", KEY_ESC},   {"Tab", KEY_TAB},   {"Shift-Tab", KEY_SHIFT_TAB},
    {"Space", KEY_SPACE},   {"Up", KEY_UP},     {"Down", KEY_DOWN}, {"Left", KEY_LEFT},
    {"Right", KEY_RIGHT},   {"Home", KEY_HOME}, {"End", KEY_END},   {"Backspace", KEY_BACKSPACE},
    {"Delete", KEY_DELETE}, {"PgUp", KEY_PGUP}, {"PgDn", KEY_PGDN}, {"F11", KEY_F11},
    {"F12", KEY_F12},
};
}  // namespace

std::optional<int> keyFromName(std::string_view name) {
  const std::string n = lower(trim(name));
  if (n.empty()) return std::nullopt;
  for (const NamedKey& k : kNamedKeys)
    if (n == lower(k.name)) return k.key;
  if (n.size() >= 2 && n[0] == 'f' && std::all_of(n.begin() + 1, n.end(), isDigit)) {
    const int f = std::atoi(n.c_str() + 1);
    if (f >= 1 && f <= 10) return KEY_F1 + ((f - 1) << 8);
    return std::nullopt;
  }
  if (n.size() > 2 && n[0] == '0' && n[1] == 'x') {
    char* end = nullptr;
    const unsigned long v = std::strtoul(n.c_str() + 2, &end, 16);
    if (*end == 0 && v <= 0xFFFF) return static_cast<int>(v);
    return std::nullopt;
  }
  const std::string raw = trim(name);
  if (raw.size() == 1 && raw[0] > 0x20 && raw[0] < 0x7F) return raw[0];
  return std::nullopt;
}

std::string keyName(int key) {
  if (key >= KEY_F1 && key <= KEY_F10 && (key & 0xFF) == 0)
    return "F" + std::to_string(((key - KEY_F1) >> 8) + 1);
  for (const NamedKey& k : kNamedKeys)
    if (k.key == key) return k.name;
  if ((key & 0xFF00) == 0 && key >= 0x21 && key < 0x7F) return std::string(1, char(key));
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%04X", key & 0xFFFF);
  return buffer;
}

// --- Text layout ---------------------------------------------------------------------------------

std::vector<Line> layoutText(std::string_view hostText, const LayoutOptions& options) {
  return Layouter(options).run(hostText, true);
}

std::string hostToUtf8(std::string_view hostText) {
  std::string out;
  for (unsigned char b : hostText) out += byteUtf8(b);
  return out;
}

std::string stripMarkup(std::string_view text, bool dialogMarkup) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b == 0x02 || b == '\r') continue;
    if (b == 0x01) {
      std::vector<Stop> stops;
      size_t next;
      if (parseStops(text, i, stops, next)) i = next - 1;
      continue;
    }
    if (dialogMarkup && (b == 0x05 || b == '~')) continue;
    if (b == '\n' || b == '\t') {
      out += static_cast<char>(b);
    } else if (b < 0x20) {
      out += ' ';
    } else {
      out += byteUtf8(b);
    }
  }
  return out;
}

int textWidth(std::string_view utf8) {
  int width = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++width;
  return width;
}

Line plainLine(std::string_view utf8, uint8_t attr) {
  Line line;
  for (size_t i = 0; i < utf8.size();) {
    size_t n = 1;
    while (i + n < utf8.size() && (static_cast<unsigned char>(utf8[i + n]) & 0xC0) == 0x80) ++n;
    line.push_back(Cell{std::string(utf8.substr(i, n)), attr});
    i += n;
  }
  return line;
}

std::string renderLine(const Line& line, Style s) {
  std::string out;
  uint8_t current = 0;
  for (const Cell& cell : line) {
    if (s == Style::Ansi && cell.attr != current) {
      out += "\x1b[0m";
      if (cell.attr & ATTR_EM) out += "\x1b[1m";
      if (cell.attr & ATTR_REVERSE) out += "\x1b[7m";
      if (cell.attr & ATTR_UNDERLINE) out += "\x1b[4m";
      current = cell.attr;
    }
    out += cell.ch;
  }
  if (current) out += "\x1b[0m";
  return out;
}

std::string frameBox(std::string_view title, const std::vector<Line>& lines, Style s) {
  const FrameGlyphs& g = frameGlyphs();
  int inner = 0;
  for (const Line& l : lines) inner = std::max(inner, static_cast<int>(l.size()));
  const int titleWidth = textWidth(title);
  if (titleWidth) inner = std::max(inner, titleWidth + 4);
  std::string box = g.topLeft;
  int top = inner + 2;
  if (titleWidth) {
    const int left = (top - titleWidth - 2) / 2;
    for (int i = 0; i < left; ++i) box += g.horizontal;
    box += " " + std::string(title) + " ";
    top -= left + titleWidth + 2;
  }
  for (int i = 0; i < top; ++i) box += g.horizontal;
  box += std::string(g.topRight) + "\n";
  for (const Line& l : lines) {
    box += std::string(g.vertical) + " " + renderLine(l, s);
    box.append(static_cast<size_t>(inner) - l.size(), ' ');
    box += " " + std::string(g.vertical) + "\n";
  }
  box += g.bottomLeft;
  for (int i = 0; i < inner + 2; ++i) box += g.horizontal;
  box += std::string(g.bottomRight) + "\n";
  return box;
}

// --- Message windows
// ------------------------------------------------------------------------------

int showMessage(std::string_view hostTitle, std::string_view hostText, int messageStyle) {
  closeProgressLine();
  const Style s = style();
  const std::string title = stripMarkup(hostTitle);
  const std::string text = stripMarkup(hostText);
  std::vector<Line> lines = layoutText(hostText, LayoutOptions{s, maxTextWidth(), false});

  if (messageStyle & STYLE_WAIT) {
    out() << frameBox(title, lines, s) << std::flush;
    state().waitShown = true;
    record({"wait", title, text, DIALOG_OK});
    return DIALOG_OK;
  }

  const bool ask = (messageStyle & STYLE_ASK) != 0;
  std::optional<int> result;
  if (ask) {
    if (auto answer = takeScript("message")) {
      const std::string a = lower(*answer);
      if (a == "cancel") {
        result = DIALOG_CANCEL;
      } else {
        if (a != "ok") scriptComplaint("", "message answer '" + *answer + "' taken as ok");
        result = DIALOG_OK;
      }
    }
  }
  if (ask || (state().interactive && !result)) {
    lines.push_back({});
    lines.push_back(footerLine(ask));
  }
  out() << frameBox(title, lines, s);
  if (!result && state().interactive) {
    out() << std::flush;
    RawMode raw;
    for (;;) {
      const int key = readKey();
      if (key < 0) {
        result = ask ? DIALOG_CANCEL : DIALOG_OK;
      } else if (!ask) {
        result = DIALOG_OK;
      } else if (key == KEY_ENTER || key == KEY_F12 || key == 't' || key == 'T') {
        result = DIALOG_OK;
      } else if (key == KEY_ESC || key == 'n' || key == 'N') {
        result = DIALOG_CANCEL;
      }
      if (result) break;
    }
  }
  if (!result) result = DIALOG_OK;
  if (ask) out() << "» " << (*result == DIALOG_OK ? "OK" : "Anuluj") << "\n";
  out() << std::flush;
  record({ask ? "confirm" : "message", title, text, *result});
  return *result;
}

int showText(std::string_view hostText) {
  closeProgressLine();
  const Style s = style();
  std::vector<Line> lines = layoutText(hostText, LayoutOptions{s, maxTextWidth(), false});
  out() << frameBox("", lines, s) << std::flush;
  if (state().interactive) {
    RawMode raw;
    readKey();
  }
  record({"text", "", stripMarkup(hostText), DIALOG_OK});
  return DIALOG_OK;
}

void closeWaitMessage() {
  state().waitShown = false;
}

bool waitMessageShown() {
  return state().waitShown;
}

// --- Progress and the stop request
// ----------------------------------------------------------------

namespace {
void drawProgress(bool force) {
  Progress& p = state().progress;
  const int percent =
      p.total > 0 ? static_cast<int>(std::clamp(100LL * p.done / p.total, 0LL, 100LL)) : 0;
  const auto now = Clock::now();
  if (!force && (percent == p.drawnPercent || now - p.drawnAt < std::chrono::milliseconds(50)))
    return;
  p.drawnPercent = percent;
  p.drawnAt = now;
  constexpr int width = 30;
  const int filled = percent * width / 100;
  std::string bar = "\r[";
  const bool ascii = frames() == Frames::Ascii;
  for (int i = 0; i < width; ++i) bar += i < filled ? (ascii ? "#" : "█") : (ascii ? "." : "░");
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "] %3d%%  %d/%d", percent, p.done, p.total);
  bar += numbers;
  if (state().interactive) bar += "  (Esc - przerwij)";
  out() << bar << "\x1b[K" << std::flush;
  p.lineOpen = true;
}
}  // namespace

void beginProgress(int kind) {
  closeProgressLine();
  Progress& p = state().progress;
  p.raw.reset();
  p = Progress{};
  p.active = true;
  p.kind = kind;
  if (state().interactive) p.raw = std::make_unique<RawMode>();
}

void updateProgress(int done, int total) {
  Progress& p = state().progress;
  if (!p.active) return;
  p.done = done;
  p.total = total;
  if (style() == Style::Ansi) drawProgress(done >= total);
}

void endProgress() {
  Progress& p = state().progress;
  if (!p.active) return;
  char summary[64];
  std::snprintf(summary, sizeof summary, "%d/%d", p.done, p.total);
  if (style() == Style::Ansi) {
    drawProgress(true);
    closeProgressLine();
  } else {
    out() << "Postęp: " << summary << "\n" << std::flush;
  }
  record({"progress", "", summary, p.kind});
  p.raw.reset();
  p.active = false;
}

bool stopRequested() {
  State& s = state();
  if (!s.stopAfter) {
    if (auto line = takeScript("stop-after")) {
      char* end = nullptr;
      const long n = std::strtol(line->c_str(), &end, 10);
      if (line->empty() || *end || n < 0) {
        scriptComplaint("", "bad line 'stop-after " + *line + "'");
      } else {
        s.stopAfter = n;
        s.stopPolls = 0;
      }
    }
  }
  if (s.stopAfter && ++s.stopPolls > *s.stopAfter) return true;
  if (s.interactive) {
    std::unique_ptr<RawMode> raw;
    if (!s.progress.raw) raw = std::make_unique<RawMode>();
    for (int key; (key = pollKey()) >= 0;)
      if (key == KEY_ESC) return true;
  }
  return false;
}

// --- Text files ---------------------------------------------------------------------------------

int showTextFile(const std::string& name) {
  closeProgressLine();
  std::ifstream in(name, std::ios::binary);
  if (!in && fs::path(name).is_relative() && !host().shopDir.empty())
    in.open(host().shopDir / name, std::ios::binary);
  const std::string titleUtf8 = hostToUtf8(name);
  if (!in) {
    const std::string message = "Nie można otworzyć pliku " + titleUtf8;
    out() << frameBox("Błąd", {plainLine(message)}, style()) << std::flush;
    record({"textfile", titleUtf8, "", -1});
    return -1;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string bytes = buffer.str();
  if (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();

  LayoutOptions o{style(), maxTextWidth(), false};
  std::vector<Line> lines = Layouter(o).run(bytes, false);
  const std::string text = joinText(lines);

  if (!state().interactive) {
    out() << frameBox(titleUtf8, lines, style()) << std::flush;
  } else {
    const size_t pageRows = static_cast<size_t>(std::max(3, terminalSize().second - 5));
    const size_t pages = std::max<size_t>(1, (lines.size() + pageRows - 1) / pageRows);
    RawMode raw;
    for (size_t page = 0;;) {
      std::vector<Line> shownLines(
          lines.begin() + static_cast<long>(std::min(lines.size(), page * pageRows)),
          lines.begin() + static_cast<long>(std::min(lines.size(), (page + 1) * pageRows)));
      shownLines.push_back({});
      shownLines.push_back(layoutText("\x05PgDn\x01/\x05Spacja\x01 dalej  \x05PgUp\x01 wstecz  "
                                      "\x05"
                                      "Esc\x01 koniec",
                                      LayoutOptions{style(), 76, true})
                               .front());
      const std::string pageTitle =
          titleUtf8 + " (" + std::to_string(page + 1) + "/" + std::to_string(pages) + ")";
      out() << "\x1b[H\x1b[2J" << frameBox(pageTitle, shownLines, style()) << std::flush;
      const int key = readKey();
      if (key < 0 || key == KEY_ESC || key == 'q' || key == 'Q') break;
      if (key == KEY_PGUP || key == KEY_UP) {
        if (page > 0) --page;
      } else if (key == KEY_PGDN || key == KEY_SPACE || key == KEY_DOWN || key == KEY_ENTER) {
        if (page + 1 == pages) break;
        ++page;
      }
    }
  }
  record({"textfile", titleUtf8, text, 0});
  return 0;
}

// --- Choosers
// -------------------------------------------------------------------------------------

bool matchesMask(std::string_view name, std::string_view mask) {
  if (mask == "*.*" || mask == "*") return true;
  // Classic wildcard match with backtracking over the last '*'.
  size_t n = 0, m = 0, starM = std::string_view::npos, starN = 0;
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  };
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || same(mask[m], name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (starM != std::string_view::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  // "NAME.*" also matches a name without an extension.
  if (m + 2 == mask.size() && mask[m] == '.' && mask[m + 1] == '*') m = mask.size();
  return m == mask.size();
}

std::optional<std::string> chooseFile(int kind, const std::string& currentName,
                                      const std::string& mask) {
  (void)kind;
  closeProgressLine();
  std::optional<std::string> chosen;
  bool answered = false;
  if (auto line = takeScript("file")) {
    answered = true;
    if (lower(*line) != "none" && !line->empty())
      chosen = codepage::fromUtf8(*line, codepage::MAZOVIA).substr(0, 128);
  } else if (state().interactive) {
    answered = true;
    // The mask's directory part (a DOS drive and folder) means nothing here: the chooser lists
    // the shop folder.
    std::string pattern = mask;
    if (const size_t cut = pattern.find_last_of("\\/:"); cut != std::string::npos)
      pattern = pattern.substr(cut + 1);
    if (pattern.empty()) pattern = "*.*";
    const std::vector<std::string> names = listShopFiles(pattern);
    std::vector<Line> lines;
    lines.push_back(plainLine("Pliki " + pattern + " w " + shopFolder().string() + ":"));
    for (size_t i = 0; i < names.size() && i < 200; ++i) {
      char number[16];
      std::snprintf(number, sizeof number, "%3zu. ", i + 1);
      lines.push_back(plainLine(number + names[i]));
    }
    if (names.empty()) lines.push_back(plainLine("(brak plików)"));
    lines.push_back(plainLine("Obecnie: " + hostToUtf8(currentName)));
    out() << frameBox("Wybierz plik", lines, style()) << std::flush;
    RawMode raw;
    auto typed = readLineInteractive("Numer lub nazwa pliku (Esc - rezygnacja): ", "", 128);
    if (typed && !typed->empty()) {
      char* end = nullptr;
      const long n = std::strtol(typed->c_str(), &end, 10);
      chosen = (*end == 0 && n >= 1 && static_cast<size_t>(n) <= names.size())
                   ? codepage::fromUtf8(names[static_cast<size_t>(n) - 1], codepage::MAZOVIA)
                   : *typed;
      chosen = chosen->substr(0, 128);
    }
  }
  if (!answered) chosen.reset();
  const std::string text = chosen ? hostToUtf8(*chosen) : "";
  out() << "Wybór pliku: " << (chosen ? text : "(brak)") << "\n" << std::flush;
  record({"file", "", text, chosen ? 0 : -1});
  return chosen;
}

std::string warehouseNote(const std::string& typed) {
  if (typed.empty() || typed.size() > 9 || !std::all_of(typed.begin(), typed.end(), isDigit))
    return "";
  const int number = std::atoi(typed.c_str());
  const std::string name = shop::warehouseFileName(number);
  std::error_code ec;
  if (fs::is_regular_file(shopFolder() / name, ec)) return "";
  std::string note = "Magazyn " + std::to_string(number) + " nie ma pliku towarów";
  if (name.find('-') == std::string::npos) note += " (" + name + ")";
  return note;
}

namespace {
bool digitOnly(char c);
std::optional<std::string> editLine(std::string_view prompt, const std::string& initial,
                                    size_t maxLength, bool (*accept)(char),
                                    std::string (*note)(const std::string&));
}  // namespace

int chooseWarehouse(int current, int kind) {
  (void)kind;
  closeProgressLine();
  int result = current;
  if (auto line = takeScript("warehouse")) {
    char* end = nullptr;
    const long n = std::strtol(line->c_str(), &end, 10);
    if (lower(*line) == "none") {
      result = -1;
    } else if (!line->empty() && *end == 0 && n >= 0 && n <= 0x7FFFFFFF) {
      result = static_cast<int>(n);
    } else {
      scriptComplaint("", "bad line 'warehouse " + *line + "', taking " + std::to_string(current));
    }
  } else if (state().interactive) {
    // The shop's warehouses are the product files MMM<n>.MGR of its folder.
    std::vector<int> numbers;
    for (const std::string& name : listShopFiles("MMM*.MGR")) {
      const std::string digits = name.substr(3, name.size() - 7);
      if (!digits.empty() && digits.size() < 9 &&
          std::all_of(digits.begin(), digits.end(), isDigit))
        numbers.push_back(std::atoi(digits.c_str()));
    }
    std::sort(numbers.begin(), numbers.end());
    std::string list;
    for (int n : numbers) list += (list.empty() ? "" : ", ") + std::to_string(n);
    out() << frameBox("Wybierz magazyn",
                      {plainLine("Magazyny: " + (list.empty() ? std::string("(brak)") : list))},
                      style())
          << std::flush;
    // The prompt starts from the number the module passes; Esc is no choice.
    std::string preset = current >= 0 ? std::to_string(current) : "";
    for (;;) {
      auto typed =
          editLine("Numer magazynu (Esc - brak wyboru): ", preset, 9, digitOnly, warehouseNote);
      if (!typed) {
        result = -1;
        break;
      }
      if (!typed->empty()) {
        result = static_cast<int>(std::strtol(typed->c_str(), nullptr, 10));
        break;
      }
      preset.clear();
    }
  }
  if (result < 0)
    out() << "Magazyn: brak wyboru\n" << std::flush;
  else
    out() << "Magazyn: " << result << "\n" << std::flush;
  record({"warehouse", "", std::to_string(result), result});
  return result;
}

// --- Keyboard
// -------------------------------------------------------------------------------------

namespace {

// UTF-8 of one UTF-16 character (no surrogates).
std::string utf8Of(unsigned c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// The Mazovia byte of a UTF-8 character, or KEY_NONE when the set lacks it.
int mazoviaKey(const std::string& utf8) {
  const std::string m = codepage::fromUtf8(utf8, codepage::MAZOVIA);
  if (m.size() == 1 && m != "?") return static_cast<unsigned char>(m[0]);
  return KEY_NONE;
}

}  // namespace

int keyFromBytes(int first, const std::function<int(int)>& more) {
  if (first == 0x1B) {
    const int introducer = more(40);
    if (introducer < 0) return KEY_ESC;
    if (introducer != '[' && introducer != 'O') {
      const int alt = introducer > 0 && introducer < 0x80 ? altKey(char(introducer)) : -1;
      return alt >= 0 ? alt : KEY_ESC;
    }
    std::string sequence(1, char(introducer));
    for (int b; (b = more(40)) >= 0;) {
      sequence += char(b);
      if (b >= 0x40 && b <= 0x7E && !(sequence.size() == 2 && b == '[')) break;
    }
    static const std::pair<const char*, int> sequences[] = {
        {"[A", KEY_UP},      {"[B", KEY_DOWN},  {"[C", KEY_RIGHT}, {"[D", KEY_LEFT},
        {"OA", KEY_UP},      {"OB", KEY_DOWN},  {"OC", KEY_RIGHT}, {"OD", KEY_LEFT},
        {"[H", KEY_HOME},    {"OH", KEY_HOME},  {"[1~", KEY_HOME}, {"[7~", KEY_HOME},
        {"[F", KEY_END},     {"OF", KEY_END},   {"[4~", KEY_END},  {"[8~", KEY_END},
        {"[3~", KEY_DELETE}, {"[5~", KEY_PGUP}, {"[6~", KEY_PGDN}, {"[Z", KEY_SHIFT_TAB},
        {"OP", 0x3B00},      {"OQ", 0x3C00},    {"OR", 0x3D00},    {"OS", 0x3E00},
        {"[11~", 0x3B00},    {"[12~", 0x3C00},  {"[13~", 0x3D00},  {"[14~", 0x3E00},
        {"[[A", 0x3B00},     {"[[B", 0x3C00},   {"[[C", 0x3D00},   {"[[D", 0x3E00},
        {"[[E", 0x3F00},     {"[15~", 0x3F00},  {"[17~", 0x4000},  {"[18~", 0x4100},
        {"[19~", 0x4200},    {"[20~", 0x4300},  {"[21~", 0x4400},  {"[23~", KEY_F11},
        {"[24~", KEY_F12},
    };
    for (const auto& [text, key] : sequences)
      if (sequence == text) return key;
    return KEY_NONE;
  }
  if (first >= 0xC0) {
    // A UTF-8 character: its Mazovia byte, if the set has it.
    std::string utf8(1, char(first));
    const int count = first >= 0xF0 ? 3 : first >= 0xE0 ? 2 : 1;
    for (int i = 0; i < count; ++i) {
      const int b = more(40);
      if (b < 0) break;
      utf8 += char(b);
    }
    return mazoviaKey(utf8);
  }
  return keyForCharacter(first);
}

int keyFromConsole(unsigned virtualKey, unsigned character, unsigned controlState) {
  // Control-key state and virtual-key codes of the Windows console.
  constexpr unsigned RIGHT_ALT = 0x01, LEFT_ALT = 0x02, RIGHT_CTRL = 0x04, LEFT_CTRL = 0x08,
                     SHIFT = 0x10;
  const bool alt = controlState & (RIGHT_ALT | LEFT_ALT);
  const bool ctrl = controlState & (RIGHT_CTRL | LEFT_CTRL);
  switch (virtualKey) {
    case 0x10:  // Shift
    case 0x11:  // Ctrl
    case 0x12:  // Alt
    case 0x14:  // Caps Lock
    case 0x5B:  // the Windows keys
    case 0x5C:
    case 0x90:  // Num Lock
    case 0x91:  // Scroll Lock
      return KEY_NONE;
    case 0x08:
      return KEY_BACKSPACE;
    case 0x09:
      return controlState & SHIFT ? KEY_SHIFT_TAB : KEY_TAB;
    case 0x0D:
      return KEY_ENTER;
    case 0x1B:
      return KEY_ESC;
    case 0x21:
      return KEY_PGUP;
    case 0x22:
      return KEY_PGDN;
    case 0x23:
      return KEY_END;
    case 0x24:
      return KEY_HOME;
    case 0x25:
      return KEY_LEFT;
    case 0x26:
      return KEY_UP;
    case 0x27:
      return KEY_RIGHT;
    case 0x28:
      return KEY_DOWN;
    case 0x2E:
      return KEY_DELETE;
    case 0x7A:
      return KEY_F11;
    case 0x7B:
      return KEY_F12;
    default:
      break;
  }
  if (virtualKey >= 0x70 && virtualKey <= 0x79)
    return KEY_F1 + static_cast<int>((virtualKey - 0x70) << 8);
  // Alt and a letter; right Alt with Ctrl is AltGr, which types characters (the Polish letters).
  if (alt && !ctrl && virtualKey >= 'A' && virtualKey <= 'Z')
    return altKey(static_cast<char>(virtualKey - 'A' + 'a'));
  if (character == 0 || (character >= 0xD800 && character <= 0xDFFF)) return KEY_NONE;
  if (character < 0x80) return keyForCharacter(static_cast<int>(character));
  return mazoviaKey(utf8Of(character));
}

#ifdef _WIN32

namespace {
struct ConsoleSaved {
  int depth = 0;
  bool saved = false;
  DWORD mode = 0;
};
ConsoleSaved& consoleSaved() {
  static ConsoleSaved c;
  return c;
}
HANDLE inputHandle() {
  return GetStdHandle(STD_INPUT_HANDLE);
}
bool inputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(inputHandle(), &mode) != 0;
}

// Waits up to `ms` milliseconds for a byte of input that is no console (a pipe or a file).
int nextPipedByte(int ms) {
  HANDLE in = inputHandle();
  for (int waited = 0;; waited += 10) {
    DWORD available = 0;
    if (!PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr) || available > 0) break;
    if (waited >= ms) return -1;
    Sleep(10);
  }
  unsigned char c;
  return _read(0, &c, 1) == 1 ? c : -1;
}

// The key of a console input event that stands for one; KEY_NONE for any other event.
int consoleKey(const INPUT_RECORD& r) {
  if (r.EventType != KEY_EVENT || !r.Event.KeyEvent.bKeyDown) return KEY_NONE;
  const KEY_EVENT_RECORD& k = r.Event.KeyEvent;
  return keyFromConsole(k.wVirtualKeyCode, k.uChar.UnicodeChar, k.dwControlKeyState);
}
}  // namespace

RawMode::RawMode() {
  prepareConsole();
  ConsoleSaved& c = consoleSaved();
  if (c.depth++ > 0) return;
  DWORD mode = 0;
  if (!GetConsoleMode(inputHandle(), &mode)) return;
  c.saved = true;
  c.mode = mode;
  // Keys as key events (no line editing, echo or escape sequences), and size changes too.
  constexpr DWORD WINDOW_INPUT = 0x0008, LINE_INPUT = 0x0002, ECHO_INPUT = 0x0004,
                  VIRTUAL_TERMINAL_INPUT = 0x0200;
  SetConsoleMode(inputHandle(),
                 (mode | WINDOW_INPUT) & ~(LINE_INPUT | ECHO_INPUT | VIRTUAL_TERMINAL_INPUT));
}

RawMode::~RawMode() {
  ConsoleSaved& c = consoleSaved();
  if (--c.depth > 0 || !c.saved) return;
  SetConsoleMode(inputHandle(), c.mode);
  c.saved = false;
}

int readKey(bool reportResize) {
  out() << std::flush;
  if (!inputIsConsole()) {
    for (;;) {
      unsigned char c;
      if (_read(0, &c, 1) != 1) return -1;
      const int key = keyFromBytes(c, nextPipedByte);
      if (key != KEY_NONE) return key;
    }
  }
  for (;;) {
    INPUT_RECORD r;
    DWORD got = 0;
    if (!ReadConsoleInputW(inputHandle(), &r, 1, &got) || got == 0) return -1;
    if (r.EventType == WINDOW_BUFFER_SIZE_EVENT && reportResize) return KEY_RESIZE;
    const int key = consoleKey(r);
    if (key == 3) {  // Ctrl-C, when the console hands it over as a key
      if (consoleSaved().saved) SetConsoleMode(inputHandle(), consoleSaved().mode);
      std::exit(130);
    }
    if (key != KEY_NONE) return key;
  }
}

int pollKey() {
  if (!inputIsConsole()) {
    DWORD available = 0;
    if (PeekNamedPipe(inputHandle(), nullptr, 0, nullptr, &available, nullptr) && available == 0)
      return -1;
    return readKey();
  }
  for (;;) {
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(inputHandle(), &count) || count == 0) return -1;
    INPUT_RECORD r;
    DWORD got = 0;
    if (!PeekConsoleInputW(inputHandle(), &r, 1, &got) || got == 0) return -1;
    if (consoleKey(r) != KEY_NONE) return readKey();
    ReadConsoleInputW(inputHandle(), &r, 1, &got);  // no key: passed over
  }
}

std::pair<int, int> terminalSize() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
    return {info.srWindow.Right - info.srWindow.Left + 1,
            info.srWindow.Bottom - info.srWindow.Top + 1};
  return {80, 24};
}

#else

RawMode::RawMode() {
  TerminalSaved& t = terminalSaved();
  if (t.depth++ > 0 || !isatty(STDIN_FILENO)) return;
  if (!t.saved) {
    if (tcgetattr(STDIN_FILENO, &t.original) != 0) return;
    t.saved = true;
    std::atexit(restoreTerminal);
    std::signal(SIGINT, restoreAndReraise);
    std::signal(SIGTERM, restoreAndReraise);
    // No SA_RESTART: a size change interrupts the read that waits for a key.
    struct sigaction resize {};
    resize.sa_handler = noteResize;
    sigemptyset(&resize.sa_mask);
    sigaction(SIGWINCH, &resize, nullptr);
  }
  termios raw = t.original;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

RawMode::~RawMode() {
  TerminalSaved& t = terminalSaved();
  if (--t.depth == 0) restoreTerminal();
}

int readKey(bool reportResize) {
  out() << std::flush;
  for (;;) {
    if (reportResize) terminalResized = 0;
    const int c = readFirstByte(reportResize);
    if (c < 0 || c == KEY_RESIZE) return c;
    const int key = keyFromBytes(c, [](int ms) { return inputWaiting(ms) ? readByte() : -1; });
    if (key != KEY_NONE) return key;
  }
}

int pollKey() {
  if (!inputWaiting(0)) return -1;
  return readKey();
}

std::pair<int, int> terminalSize() {
  winsize w{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 0 && w.ws_row > 0)
    return {w.ws_col, w.ws_row};
  return {80, 24};
}

#endif

// --- Line editing
// ---------------------------------------------------------------------------------

LineEdit::LineEdit(std::string preset, size_t max) : maxLength(max) {
  set(std::move(preset), true);
}

void LineEdit::set(std::string preset, bool select) {
  text = std::move(preset);
  if (text.size() > maxLength) text.resize(maxLength);
  cursor = text.size();
  selected = select && !text.empty();
}

bool LineEdit::handle(int key, bool (*accept)(char)) {
  const size_t size = text.size();
  switch (key) {
    case KEY_BACKSPACE:
    case KEY_DELETE:
      if (selected) {
        text.clear();
        cursor = 0;
      } else if (key == KEY_BACKSPACE && cursor > 0) {
        text.erase(--cursor, 1);
      } else if (key == KEY_DELETE && cursor < size) {
        text.erase(cursor, 1);
      }
      break;
    case KEY_LEFT:
      // From a selection, Left goes to its start and Right to its end.
      cursor = selected ? 0 : cursor - (cursor > 0);
      break;
    case KEY_RIGHT:
      cursor = selected ? size : cursor + (cursor < size);
      break;
    case KEY_HOME:
      cursor = 0;
      break;
    case KEY_END:
      cursor = size;
      break;
    default: {
      const int c = key & 0xFF;
      if (key < 0 || c < 0x20 || c == 0x7F) return false;
      if (accept && !accept(static_cast<char>(c))) return true;  // typed, but not taken here
      if (selected) {
        text.clear();
        cursor = 0;
      }
      if (text.size() < maxLength) text.insert(cursor++, 1, static_cast<char>(c));
    }
  }
  selected = false;
  return true;
}

namespace {

// Edits a line at the terminal's cursor: the prompt, the text (scrolled sideways to keep the
// cursor in sight; the selection in reverse video), and under it the note for the text, if any.
std::optional<std::string> editLine(std::string_view prompt, const std::string& initial,
                                    size_t maxLength, bool (*accept)(char),
                                    std::string (*note)(const std::string&)) {
  LineEdit edit(initial, maxLength);
  RawMode raw;
  const bool ansi = style() == Style::Ansi;
  const int promptWidth = textWidth(prompt);
  bool noteShown = false;
  size_t scroll = 0;
  for (;;) {
    const size_t room = static_cast<size_t>(std::max(4, terminalSize().first - promptWidth - 1));
    if (edit.cursor < scroll) scroll = edit.cursor;
    if (edit.cursor >= scroll + room) scroll = edit.cursor - room + 1;
    if (scroll > edit.text.size()) scroll = edit.text.size();
    const std::string part = edit.text.substr(scroll, room);
    const std::string shownText = hostToUtf8(part);
    std::ostream& o = out();
    o << "\r" << prompt;
    if (edit.selected && ansi)
      o << "\x1b[7m" << shownText << "\x1b[0m";
    else
      o << shownText;
    o << "\x1b[K";
    const std::string noteText = note ? note(edit.text) : std::string();
    const int cursorColumn = promptWidth + static_cast<int>(edit.cursor - scroll);
    if (!noteText.empty() || noteShown) {
      o << "\r\n" << noteText << "\x1b[K\x1b[1A\r";
      if (cursorColumn > 0) o << "\x1b[" << cursorColumn << "C";
      noteShown = !noteText.empty();
    } else if (edit.cursor - scroll < part.size()) {
      o << "\x1b[" << part.size() - (edit.cursor - scroll) << "D";
    }
    const int key = readKey(true);
    if (key == KEY_RESIZE) continue;
    if (key < 0 || key == KEY_ESC || key == KEY_ENTER) {
      o << (noteShown ? "\n\n" : "\n");
      if (key == KEY_ENTER) return edit.text;
      return std::nullopt;
    }
    edit.handle(key, accept);
  }
}

bool digitOnly(char c) {
  return isDigit(c);
}

}  // namespace

std::optional<std::string> readLineInteractive(std::string_view prompt, const std::string& initial,
                                               size_t maxLength) {
  return editLine(prompt, initial, maxLength, nullptr, nullptr);
}

// --- Terminal size
// --------------------------------------------------------------------------------

std::string tooSmallMessage(int columns, int rows, int haveColumns, int haveRows) {
  return "Za mały terminal: " + std::to_string(haveColumns) + " x " + std::to_string(haveRows) +
         ".\r\nPotrzeba co najmniej " + std::to_string(columns) + " x " + std::to_string(rows) +
         ".\r\nPowiększ okno (Esc - rezygnacja).";
}

bool terminalFits(int columns, int rows) {
  const auto [have, haveRows] = terminalSize();
  return have >= columns && haveRows >= rows;
}

bool waitForRoom(int columns, int rows) {
  RawMode raw;
  for (;;) {
    const auto [have, haveRows] = terminalSize();
    if (have >= columns && haveRows >= rows) return true;
    out() << "\x1b[H\x1b[2J\x1b[?25h" << tooSmallMessage(columns, rows, have, haveRows)
          << std::flush;
    const int key = readKey(true);
    if (key < 0 || key == KEY_ESC) {
      out() << "\r\n" << std::flush;
      return false;
    }
  }
}

}  // namespace velkar::ui
