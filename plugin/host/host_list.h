// The host functions of "VELKAR" that the module binds by ordinal, written down once.
//
// X(place, ordinal, name, CONV, Ret, (parameters))
//   place      position in the binding order (1..46); probes run in this order at load
//   ordinal    the host's export ordinal
//   name       the role name the module calls it by
//   CONV       HOST_STDCALL or HOST_CDECL (only the four that take a variable list are cdecl)
//
// Everything per entry (slots, probes, call entries, first-call entries, typed fallbacks, the host
// stand-in's export table) is generated from this list.
#pragma once

// VELKAR_LIST_ONLY: just the list, for generating export definitions.
#ifndef VELKAR_LIST_ONLY
#include "platform/platform.h"

struct TableDescriptor;

// Key handler that the module hands to runDialog: -2 = handled, 0 = leave it to the host.
typedef int(HOST_STDCALL* DialogKeyHandler)(unsigned short key, unsigned short item);
// The host's callback (ordinal 30006, or the one handed to entry 30001).
typedef int(HOST_STDCALL* HostCallback)(int a, int b);
#endif

#define VELKAR_HOST_FUNCTIONS(X)                                                                   \
  X(1, 30018, checkModule, HOST_STDCALL, int, (HMODULE module, char* reason, int reasonSize))      \
  X(2, 35802, showFormattedCoded, HOST_CDECL, int,                                                 \
    (int code, const char* title, const char* format, unsigned flags, unsigned tag, ...))          \
  X(3, 52029, showFormatted, HOST_CDECL, int,                                                      \
    (const char* title, const char* format, unsigned flags, unsigned tag, ...))                    \
  X(4, 52158, recodeText, HOST_STDCALL, int, (char* out, const char* in, int fromSet, int toSet))  \
  X(5, 30005, hostReserved30005, HOST_STDCALL, int, (void))                                        \
  X(6, 38417, hostReserved38417, HOST_STDCALL, int, (void))                                        \
  X(7, 21287, freeMemory, HOST_STDCALL, void, (void* block))                                       \
  X(8, 21286, reallocMemory, HOST_STDCALL, void*, (void* block, int size))                         \
  X(9, 52224, hostSettings, HOST_CDECL, int,                                                       \
    (int operation, const char* section, const char* key, const char* format, va_list args))       \
  X(10, 52081, registerCommand, HOST_STDCALL, int, (const void* commandRecord))                    \
  X(11, 52082, unregisterCommand, HOST_STDCALL, int, (unsigned commandId))                         \
  X(12, 52023, addMenuOption, HOST_STDCALL, int, (int menu, int* flag, int reserved, char* label)) \
  X(13, 52026, runDialog, HOST_STDCALL, int,                                                       \
    (const void* description, int mode, void* data, DialogKeyHandler keys, int reserved))          \
  X(14, 52028, showMessage, HOST_STDCALL, int, (const char* title, const char* text, int style))   \
  X(15, 35804, showMessageList, HOST_STDCALL, int,                                                 \
    (int reserved, const char* caption, const char* format, int style, va_list args))              \
  X(16, 52030, showText, HOST_STDCALL, int, (const char* text))                                    \
  X(17, 52040, exchangeDialogData, HOST_STDCALL, int, (void* data, int toData))                    \
  X(18, 52041, notifyDialogItem, HOST_STDCALL, int, (int itemId))                                  \
  X(19, 52064, closeWaitMessage, HOST_STDCALL, int, (void))                                        \
  X(20, 51594, interfaceLevel, HOST_STDCALL, int, (void))                                          \
  X(21, 52311, warehouseFilePath, HOST_STDCALL, char*,                                             \
    (int warehouse, char* path, const char* prefix, const char* extension, int kind))              \
  X(22, 52256, getTableDescriptor, HOST_STDCALL, TableDescriptor*, (int table))                    \
  X(23, 35385, convertCharset, HOST_STDCALL, int,                                                  \
    (char* out, int outSize, const char* in, int inLength, int fromSet, int toSet))                \
  X(24, 52161, copyText, HOST_STDCALL, char*, (char* out, const char* in, int maxChars))           \
  X(25, 52156, normaliseText, HOST_STDCALL, char*, (char* text))                                   \
  X(26, 52169, chooseFile, HOST_STDCALL, int, (int kind, char* fileName, char* mask, int flags))   \
  X(27, 52534, openTextFile, HOST_STDCALL, void*,                                                  \
    (const char* name, const char* mode, int share, int reserved, int wait))                       \
  X(28, 52305, closeTextFile, HOST_STDCALL, int, (void* file))                                     \
  X(29, 52306, seekFile, HOST_STDCALL, int, (void* file, int offset, int origin))                  \
  X(30, 52542, tellFile, HOST_STDCALL, int, (void* file))                                          \
  X(31, 52228, beginProgress, HOST_STDCALL, int, (int kind))                                       \
  X(32, 52230, endProgress, HOST_STDCALL, int, (void))                                             \
  X(33, 52232, updateProgress, HOST_STDCALL, int, (int done, int total))                           \
  X(34, 52235, progressIdle, HOST_STDCALL, int, (int reserved))                                    \
  X(35, 51425, dataFilePath, HOST_STDCALL, char*,                                                  \
    (int fileNumber, int variant, char* path, int reserved))                                       \
  X(36, 52536, readLine, HOST_STDCALL, int, (void* file, char* line, int size))                    \
  X(37, 52541, printToFile, HOST_CDECL, int, (void* file, const char* format, ...))                \
  X(38, 52337, chooseWarehouse, HOST_STDCALL, int, (int current, int kind, int reserved))          \
  X(39, 52006, buildDate, HOST_STDCALL, unsigned, (const char* dateText))                          \
  X(40, 52278, openTableCursor, HOST_STDCALL, int,                                                 \
    (void* cursor, TableDescriptor* table, int mode, const char* path, int a, int b))              \
  X(41, 52279, readNextRecord, HOST_STDCALL, int, (void* cursor))                                  \
  X(42, 52280, writeCurrentRecord, HOST_STDCALL, int, (void* cursor))                              \
  X(43, 52281, closeTableCursor, HOST_STDCALL, int, (void* cursor))                                \
  X(44, 52460, stopRequested, HOST_STDCALL, int, (void))                                           \
  X(45, 52405, showTextFile, HOST_STDCALL, int, (const char* name))                                \
  X(46, 52435, getField, HOST_STDCALL, int,                                                        \
    (int index, const char* line, char* field, int fieldSize, int maxLength,                       \
     const char* separators))

#ifndef VELKAR_LIST_ONLY
enum { HOST_FUNCTION_COUNT = 46 };

// Ordinals the module looks up at attach besides the 46.
enum { HOST_ORDINAL_CALLBACK = 30006, HOST_ORDINAL_30007 = 30007 };

// Host code pages (the fromSet/toSet numbers).
enum { CHARSET_HOST = 1, CHARSET_WINDOWS = 3 };
#endif
