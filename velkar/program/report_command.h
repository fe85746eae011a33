// velkar report: the report the plug-in's command left in a shop folder, in the terminal's
// character set.
#pragma once

namespace velkar::program {

// The program's exit status: 0 when the report was shown, 1 when there is none, 2 for a mistake
// on the command line.
int reportCommand(int argc, char** argv);

}  // namespace velkar::program
