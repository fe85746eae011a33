// The answers of a scripted run (velkar run --script), held to what they say.
//
// Every line is read before the run: a line that is not an answer of a known kind, or whose
// answer cannot be read, is a mistake named by its line number and what was expected. During the
// run the console interface takes the answers (the first line of the kind a question asks for); an
// answer that does not fit the question it meets (a dialog item or field the dialog lacks) stops
// the run at the next call of a host function, and answers no question took fail the run at its
// end, unless the script says "allow-unused" (for scripts that end a run early on purpose).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace velkar::script {

struct Line {
  int number;        // in the file, from 1
  std::string kind;  // "message", "dialog", "file", "warehouse", "stop-after"
  std::string text;  // the line, trimmed
};

struct Script {
  std::vector<Line> lines;
  bool allowUnused = false;
};

// Checks one line (already trimmed, neither blank nor a comment): its kind, or a directive, and
// its answer. Empty when it is sound; otherwise what was expected.
std::string checkLine(const std::string& text, std::string& kind);

// Reads and checks a script file; false with "line N: ..." (or why the file cannot be read).
bool read(const std::filesystem::path& file, Script& out, std::string& error);
// The same for a script held in memory.
bool parse(const std::string& content, Script& out, std::string& error);

// Hands the script to the console interface and watches it during the run: `stop` is called
// (and should not return) with the message of an answer that did not fit its question.
void begin(const Script& script, std::function<void(const std::string&)> stop);
// The answers no question took, one message each ("line N: ... was not used"); ends the watch.
std::vector<std::string> finish();
// Called by the host at the start of every host function: stops a run whose answer did not fit.
void beforeHostCall();
// The message of an answer that did not fit, when one did not and the run was not yet stopped.
std::string pendingMisfit();

}  // namespace velkar::script
