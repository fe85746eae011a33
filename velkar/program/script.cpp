#include "velkar/program/script.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "velkar/core/host_state.h"
#include "velkar/console/dialog.h"
#include "velkar/console/ui.h"

namespace velkar::script {
namespace {

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// A whole number in [low, high], read as the interface reads it (base: 10, or 0 for C's
// prefixes).
bool number(const std::string& text, long low, long high, int base = 10) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, base);
  return errno == 0 && *end == 0 && n >= low && n <= high;
}

const char* const dialogExpected =
    "expected dialog [file=NAME] [format=N] [keys=[itemN:]KEY,...] and ok, cancel or "
    "code=0xNNNN";

std::string checkDialog(const std::string& rest) {
  std::vector<std::string> tokens;
  if (!dialog::scriptWords(rest, tokens))
    return "a quote is not closed; " + std::string(dialogExpected);
  int results = 0;
  for (const std::string& t : tokens) {
    const size_t eq = t.find('=');
    const std::string name = t.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : t.substr(eq + 1);
    if (t == "ok" || t == "cancel") {
      ++results;
    } else if (eq == std::string::npos) {
      return "'" + t + "' is not understood; " + dialogExpected;
    } else if (name == "file") {
      if (value.empty()) return "file= names no file; expected file=NAME";
    } else if (name == "format") {
      if (!number(value, -32768, 65535, 0))
        return "format=" + value + " is not a number; expected format=N (0 is the first choice)";
    } else if (name == "code") {
      ++results;
      if (!number(value, 0, 0xFFFF, 0))
        return "code=" + value + " is not a 16-bit result; expected code=0xNNNN";
    } else if (name == "keys") {
      if (value.empty()) return "keys= names no key; expected keys=[itemN:]KEY,...";
      for (size_t start = 0; start <= value.size();) {
        const size_t comma = std::min(value.find(',', start), value.size());
        std::string key = value.substr(start, comma - start);
        start = comma + 1;
        if (key.empty()) continue;
        if (const size_t colon = key.find(':');
            colon != std::string::npos && key.rfind("item", 0) == 0) {
          const std::string item = key.substr(4, colon - 4);
          if (!number(item, 0, 0x7FFFFFFF))
            return "'" + key + "': item" + item + " is not an item number; expected itemN:KEY";
          key = key.substr(colon + 1);
        }
        if (!ui::keyFromName(key))
          return "'" + key +
                 "' is not a key; expected F1..F12, Enter, Esc, Tab, Space, an arrow, Home, End, "
                 "Backspace, Delete, PgUp, PgDn, 0xNNNN or one character";
      }
    } else {
      return "'" + t + "' is not understood; " + dialogExpected;
    }
  }
  if (results > 1)
    return "more than one result (ok, cancel, code=); " + std::string(dialogExpected);
  return "";
}

// --- the watch during a run ----------------------------------------------------------------------

struct Watch {
  bool active = false;
  Script script;
  std::function<void(const std::string&)> stop;
  std::string misfit;  // an answer that did not fit, not yet acted on
  bool stopping = false;
};

Watch& watch() {
  static Watch w;
  return w;
}

// The script line a question of this kind took last; null before the first.
const Line* lastTaken(const std::string& kind) {
  std::vector<const Line*> ofKind;
  for (const Line& l : watch().script.lines)
    if (l.kind == kind) ofKind.push_back(&l);
  const size_t left = ui::scriptLinesLeft(kind);
  if (left >= ofKind.size()) return nullptr;
  return ofKind[ofKind.size() - left - 1];
}

// What the interface's complaint about an answer means to the person who wrote the script.
std::string explain(const std::string& complaint) {
  if (complaint.rfind("no item '", 0) == 0)
    return complaint + " in this dialog; expected an item it has";
  if (complaint.rfind("no input item for file=", 0) == 0)
    return "file= given, but this dialog has no text field; expected no file=";
  if (complaint.rfind("no radio items for format=", 0) == 0)
    return "format= given, but this dialog has no choice of format; expected no format=";
  return complaint;
}

// The interface's first complaint about a scripted answer during a run becomes the run's stop,
// named by the script's line; later ones, and those after the stop, go to standard error.
bool takeComplaint(const std::string& kind, const std::string& complaint) {
  Watch& w = watch();
  if (!w.active || w.stopping || !w.misfit.empty()) return false;
  const Line* taken = kind.empty() ? nullptr : lastTaken(kind);
  w.misfit = (taken ? "line " + std::to_string(taken->number) + ": '" + taken->text + "': "
                    : std::string("script: ")) +
             explain(trim(complaint));
  return true;
}

}  // namespace

std::string checkLine(const std::string& text, std::string& kind) {
  const size_t end = text.find_first_of(" \t");
  kind = lower(text.substr(0, end));
  const std::string rest = end == std::string::npos ? "" : trim(text.substr(end));
  if (kind == "allow-unused") return rest.empty() ? "" : "expected allow-unused alone";
  if (kind == "message") {
    const std::string a = lower(rest);
    return a == "ok" || a == "cancel" ? "" : "expected message ok or message cancel";
  }
  if (kind == "dialog") return checkDialog(rest);
  if (kind == "file") return rest.empty() ? "expected file NAME or file none" : "";
  if (kind == "warehouse")
    return lower(rest) == "none" || number(rest, 0, 0x7FFFFFFF)
               ? ""
               : "expected warehouse N (a number from 0) or warehouse none";
  if (kind == "stop-after")
    return number(rest, 0, 0x7FFFFFFF) ? "" : "expected stop-after N (polls, a number from 0)";
  kind.clear();
  return "not an answer; expected a line starting with message, dialog, file, warehouse, "
         "stop-after or allow-unused";
}

bool parse(const std::string& content, Script& out, std::string& error) {
  out = Script{};
  std::istringstream in(content);
  int number = 0;
  for (std::string raw; std::getline(in, raw);) {
    ++number;
    const std::string text = trim(raw);
    if (text.empty() || text[0] == '#') continue;
    std::string kind;
    const std::string problem = checkLine(text, kind);
    if (!problem.empty()) {
      error = "line " + std::to_string(number) + ": '" + text + "': " + problem;
      return false;
    }
    if (kind == "allow-unused")
      out.allowUnused = true;
    else
      out.lines.push_back({number, kind, text});
  }
  return true;
}

bool read(const std::filesystem::path& file, Script& out, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "the script " + file.string() + " cannot be read";
    return false;
  }
  std::stringstream content;
  content << in.rdbuf();
  if (!parse(content.str(), out, error)) {
    error = file.string() + " " + error;
    return false;
  }
  return true;
}

void begin(const Script& script, std::function<void(const std::string&)> stop) {
  Watch& w = watch();
  w = Watch{};
  w.active = true;
  w.script = script;
  w.stop = std::move(stop);
  std::vector<std::string> lines;
  for (const Line& l : script.lines) lines.push_back(l.text);
  ui::setScript(std::move(lines));
  ui::setScriptComplaintHandler(&takeComplaint);
}

std::vector<std::string> finish() {
  Watch& w = watch();
  std::vector<std::string> unused;
  if (!w.active) return unused;
  ui::setScriptComplaintHandler(nullptr);
  std::map<std::string, size_t> left;
  std::map<std::string, size_t> total;
  for (const Line& l : w.script.lines) ++total[l.kind];
  for (const auto& [kind, count] : total) left[kind] = ui::scriptLinesLeft(kind);
  // The lines of a kind that are left are its last ones.
  std::map<std::string, size_t> seen;
  for (const Line& l : w.script.lines)
    if (++seen[l.kind] > total[l.kind] - left[l.kind])
      unused.push_back("line " + std::to_string(l.number) + ": '" + l.text +
                       "' was not used: no question took it");
  w.active = false;
  return unused;
}

void beforeHostCall() {
  Watch& w = watch();
  if (!w.active || w.misfit.empty() || w.stopping || !w.stop) return;
  w.stopping = true;
  ui::setScriptComplaintHandler(nullptr);
  w.stop(w.misfit);
}

std::string pendingMisfit() {
  return watch().active ? watch().misfit : std::string();
}

namespace {

// The check runs first in every host call.
velkar::CallHook watched(&beforeHostCall, nullptr);

}  // namespace

}  // namespace velkar::script
