// The Windows console as the interface's output (velkar.exe). The interface writes UTF-8 with a
// few escape sequences; when standard output is a console, std::cout is taken over and that text
// reaches the console through its wide-character calls, so that neither the C runtime nor the
// console's code page stands between the stand-in and the screen:
//
// - VT mode: where the console takes escape sequences (ENABLE_VIRTUAL_TERMINAL_PROCESSING,
//   Windows 10 and later, Wine), the text goes out as it is, in UTF-16.
// - Legacy mode: where it does not (earlier consoles), the sequences the interface writes are
//   played through the console API (cursor position, clearing, attributes, the cursor's
//   visibility) and only the text is written.
//
// VELKAR_CONSOLE=legacy in the environment takes the legacy mode on any console (docs/console.md).
#pragma once

#ifdef _WIN32
namespace velkar::ui {

// Once per process, before the first output: takes over std::cout when standard output is a
// console; otherwise leaves it alone.
void attachConsoleOutput();

}  // namespace velkar::ui
#endif
