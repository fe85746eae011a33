// The Windows console as the interface's output (see windows_console.h).
#ifdef _WIN32
#include "velkar/console/windows_console.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace velkar::ui {
namespace {

constexpr DWORD VIRTUAL_TERMINAL_PROCESSING = 0x0004;
constexpr size_t INCOMPLETE = std::string_view::npos;

// Where the escape sequence that starts at text[at] ends (just past its final byte); INCOMPLETE
// when the text ends first. A control sequence is ESC [, parameter and intermediate bytes, and a
// final byte; ESC and any other byte is a sequence of two.
size_t sequenceEnd(std::string_view text, size_t at) {
  if (at + 1 >= text.size()) return INCOMPLETE;
  if (text[at + 1] != '[') return at + 2;
  size_t i = at + 2;
  while (i < text.size() && text[i] >= 0x20 && text[i] <= 0x3F) ++i;
  if (i == text.size()) return INCOMPLETE;
  // A sequence cut short by a byte that cannot end it ends before that byte.
  return text[i] >= 0x40 && text[i] <= 0x7E ? i + 1 : i;
}

// How much of the text can go out now: all of it but an escape sequence or a UTF-8 character
// that the next write completes.
size_t completePart(std::string_view text) {
  const size_t escape = text.rfind('\x1b');
  if (escape != std::string_view::npos && sequenceEnd(text, escape) == INCOMPLETE) return escape;
  const size_t n = text.size();
  for (size_t back = 1; back <= std::min<size_t>(3, n); ++back) {
    const unsigned char c = static_cast<unsigned char>(text[n - back]);
    if ((c & 0xC0) == 0x80) continue;
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return length > back ? n - back : n;
  }
  return n;
}

// The numbers of a sequence's parameters ("12;5"); an empty one is 0.
std::vector<int> numbers(std::string_view parameters) {
  std::vector<int> values{0};
  for (char c : parameters) {
    if (c == ';')
      values.push_back(0);
    else if (c >= '0' && c <= '9')
      values.back() = std::min(values.back() * 10 + (c - '0'), 9999);
  }
  return values;
}

class ConsoleOutput : public std::streambuf {
 public:
  ConsoleOutput(HANDLE console, bool legacy) : console_(console), legacy_(legacy) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(console_, &info)) plain_ = info.wAttributes & 0xFF;
  }

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) pending_ += traits_type::to_char_type(c);
    return traits_type::not_eof(c);
  }

  std::streamsize xsputn(const char* text, std::streamsize n) override {
    pending_.append(text, static_cast<size_t>(n));
    return n;
  }

  // The interface flushes after each drawing, so a screen goes out in one piece.
  int sync() override {
    const std::string_view text(pending_);
    const size_t ready = completePart(text);
    if (!legacy_) {
      writeText(text.substr(0, ready));
    } else {
      size_t from = 0;
      for (size_t at = text.find('\x1b'); at < ready; at = text.find('\x1b', from)) {
        writeText(text.substr(from, at - from));
        from = sequenceEnd(text, at);
        play(text.substr(at, from - at));
      }
      writeText(text.substr(from, ready - from));
    }
    pending_.erase(0, ready);
    return 0;
  }

 private:
  // UTF-8 out as UTF-16, each line end as CR LF.
  void writeText(std::string_view utf8) {
    if (utf8.empty()) return;
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(static_cast<size_t>(size), L'\0');
    wide.resize(
        static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), size)));
    std::wstring text;
    text.reserve(wide.size() + 32);
    for (wchar_t c : wide) {
      if (c == L'\n' && (text.empty() || text.back() != L'\r')) text += L'\r';
      text += c;
    }
    // In pieces: older consoles take only so much in one call.
    for (size_t at = 0; at < text.size();) {
      DWORD written = 0;
      const DWORD piece = static_cast<DWORD>(std::min<size_t>(text.size() - at, 4096));
      if (!WriteConsoleW(console_, text.data() + at, piece, &written, nullptr) || written == 0)
        return;
      at += written;
    }
  }

  WORD attribute() const {
    WORD a = plain_;
    if (reverse_) a = static_cast<WORD>(((a & 0x0F) << 4) | ((a & 0xF0) >> 4));
    if (bold_) a |= FOREGROUND_INTENSITY;
    if (underline_) a |= COMMON_LVB_UNDERSCORE;
    return a;
  }

  // One escape sequence through the console API. Positions count from the window's top left
  // corner, as a terminal's do; the screen buffer may be taller than the window.
  void play(std::string_view sequence) {
    if (sequence.size() < 3 || sequence[1] != '[') return;
    const char final = sequence.back();
    const bool privateMode = sequence[2] == '?';
    const std::vector<int> n = numbers(sequence.substr(2, sequence.size() - 3));
    const int count = std::max(1, n[0]);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console_, &info)) return;
    const SMALL_RECT window = info.srWindow;
    const SHORT width = info.dwSize.X, height = info.dwSize.Y;
    COORD cursor = info.dwCursorPosition;
    auto moveTo = [&](int x, int y) {
      cursor.X = static_cast<SHORT>(std::clamp(x, 0, width - 1));
      cursor.Y = static_cast<SHORT>(std::clamp(y, 0, height - 1));
      SetConsoleCursorPosition(console_, cursor);
    };
    auto fill = [&](COORD from, DWORD cells, WORD attribute) {
      DWORD done = 0;
      FillConsoleOutputCharacterW(console_, L' ', cells, from, &done);
      FillConsoleOutputAttribute(console_, attribute, cells, from, &done);
    };
    switch (final) {
      case 'H':
      case 'f':
        moveTo(window.Left + std::max(1, n.size() > 1 ? n[1] : 1) - 1, window.Top + count - 1);
        break;
      case 'A':
        moveTo(cursor.X, std::max<int>(window.Top, cursor.Y - count));
        break;
      case 'B':
        moveTo(cursor.X, std::min<int>(window.Bottom, cursor.Y + count));
        break;
      case 'C':
        moveTo(cursor.X + count, cursor.Y);
        break;
      case 'D':
        moveTo(cursor.X - count, cursor.Y);
        break;
      case 'J':  // the window, whole
        if (n[0] == 2)
          fill(COORD{0, window.Top}, static_cast<DWORD>(width) * (window.Bottom - window.Top + 1),
               plain_);
        break;
      case 'K':  // the rest of the line
        if (n[0] == 0) fill(cursor, static_cast<DWORD>(width - cursor.X), attribute());
        break;
      case 'm':
        for (int p : n) {
          if (p == 0) bold_ = underline_ = reverse_ = false;
          if (p == 1 || p == 22) bold_ = p == 1;
          if (p == 4 || p == 24) underline_ = p == 4;
          if (p == 7 || p == 27) reverse_ = p == 7;
        }
        SetConsoleTextAttribute(console_, attribute());
        break;
      case 'h':
      case 'l':
        if (privateMode && n[0] == 25) {
          CONSOLE_CURSOR_INFO shape;
          if (!GetConsoleCursorInfo(console_, &shape)) break;
          shape.bVisible = final == 'h';
          SetConsoleCursorInfo(console_, &shape);
        }
        break;
      default:
        break;
    }
  }

  HANDLE console_;
  bool legacy_;
  std::string pending_;
  WORD plain_ = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
  bool bold_ = false, underline_ = false, reverse_ = false;
};

// Whether the console interprets escape sequences once VT mode is on. Some take the mode and then
// keep a sequence's characters as text (Wine's console, as of Wine 8): a sequence written to a
// screen buffer of the probe's own, never shown, must leave its cursor where it was.
bool interpretsSequences(DWORD mode) {
  HANDLE probe = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  CONSOLE_SCREEN_BUFFER_INFO info;
  DWORD written = 0;
  const bool interprets = SetConsoleMode(probe, mode) &&
                          WriteConsoleW(probe, L"\x1b[0m", 4, &written, nullptr) &&
                          GetConsoleScreenBufferInfo(probe, &info) &&
                          info.dwCursorPosition.X == 0 && info.dwCursorPosition.Y == 0;
  CloseHandle(probe);
  return interprets;
}

}  // namespace

void attachConsoleOutput() {
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return;
  const char* chosen = std::getenv("VELKAR_CONSOLE");
  const std::string_view way = chosen ? chosen : "";
  const DWORD vtMode = mode | ENABLE_PROCESSED_OUTPUT | VIRTUAL_TERMINAL_PROCESSING;
  const bool vt = way != "legacy" && (way == "vt" || interpretsSequences(vtMode)) &&
                  SetConsoleMode(console, vtMode);
  std::cout.flush();
  // Never destroyed: the runtime flushes std::cout once more after static objects are gone.
  std::cout.rdbuf(new ConsoleOutput(console, !vt));
}

}  // namespace velkar::ui
#endif
