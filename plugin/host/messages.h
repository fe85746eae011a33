// The host's formatted message window, called with the arguments in place.
#pragma once

// A formatted host message window (showMessageList, which takes the arguments as a list).
int showFormattedMessage(const char* caption, const char* format, int style, ...);
