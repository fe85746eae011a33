// The host's messages about its own files: a product file or the additional-code file that is
// missing or cannot be used, a settings store that cannot be read or written. As a host would, the
// stand-in tells the user in its interface (a message window); a scripted run, which has nobody
// to read a window, writes the message on standard error instead and goes on without waiting.
// Nothing of this changes what the module's calls answer.
#pragma once

#include <string>
#include <vector>

namespace velkar {

// The interface's way of showing a host message (hostNotice, core/host_state.h): `polish` (UTF-8)
// in a window when the interface is interactive, `english` on standard error otherwise.
void showNotice(const std::string& polish, const std::string& english);

// Looks at the file a host function is about to open for the module (openTableCursor) and tells
// the user when the host cannot use it. `args` are the call's journal arguments.
void noticeOwnFile(int ordinal, const std::vector<std::string>& args);

}  // namespace velkar
