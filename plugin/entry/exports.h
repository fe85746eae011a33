// The module's entry points, exported by ordinal only. One list for the Windows export table
// (exports.def is generated from it) and for the native loader.
#pragma once

// X(ordinal, name)
#define VATUPDATE_EXPORTS(X) \
  X(30001, pluginStart)      \
  X(30008, pluginNotify)     \
  X(30009, pluginIdle)       \
  X(30010, pluginSignature)
