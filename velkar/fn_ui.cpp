// PLACEHOLDER: replaced by the real implementation.
#include "velkar/host.h"
#include "velkar/host_functions.h"

namespace velkar::fn {

int showFormattedCoded(int code, const char* title, const char* format, unsigned flags,
                       unsigned tag, ...) {
  (void)code;
  (void)title;
  (void)format;
  (void)flags;
  (void)tag;
  enterCall(35802, "showFormattedCoded", {});
  return 0;
}

int showFormatted(const char* title, const char* format, unsigned flags, unsigned tag, ...) {
  (void)title;
  (void)format;
  (void)flags;
  (void)tag;
  enterCall(52029, "showFormatted", {});
  return 0;
}

int runDialog(const void* description, int mode, void* data, DialogKeyHandler keys, int reserved) {
  (void)description;
  (void)mode;
  (void)data;
  (void)keys;
  (void)reserved;
  enterCall(52026, "runDialog", {});
  return 0;
}

int showMessage(const char* title, const char* text, int style) {
  (void)title;
  (void)text;
  (void)style;
  enterCall(52028, "showMessage", {});
  return 0;
}

int showMessageList(int reserved, const char* caption, const char* format, int style,
                    va_list args) {
  (void)reserved;
  (void)caption;
  (void)format;
  (void)style;
  (void)args;
  enterCall(35804, "showMessageList", {});
  return 0;
}

int showText(const char* text) {
  (void)text;
  enterCall(52030, "showText", {});
  return 0;
}

int exchangeDialogData(void* data, int toData) {
  (void)data;
  (void)toData;
  enterCall(52040, "exchangeDialogData", {});
  return 0;
}

int notifyDialogItem(int itemId) {
  (void)itemId;
  enterCall(52041, "notifyDialogItem", {});
  return 0;
}

int closeWaitMessage(void) {
  enterCall(52064, "closeWaitMessage", {});
  return 0;
}

int chooseFile(int kind, char* fileName, char* mask, int flags) {
  (void)kind;
  (void)fileName;
  (void)mask;
  (void)flags;
  enterCall(52169, "chooseFile", {});
  return 0;
}

int beginProgress(int kind) {
  (void)kind;
  enterCall(52228, "beginProgress", {});
  return 0;
}

int endProgress(void) {
  enterCall(52230, "endProgress", {});
  return 0;
}

int updateProgress(int done, int total) {
  (void)done;
  (void)total;
  enterCall(52232, "updateProgress", {});
  return 0;
}

int progressIdle(int reserved) {
  (void)reserved;
  enterCall(52235, "progressIdle", {});
  return 0;
}

int chooseWarehouse(int current, int kind, int reserved) {
  (void)current;
  (void)kind;
  (void)reserved;
  enterCall(52337, "chooseWarehouse", {});
  return 0;
}

int stopRequested(void) {
  enterCall(52460, "stopRequested", {});
  return 0;
}

int showTextFile(const char* name) {
  (void)name;
  enterCall(52405, "showTextFile", {});
  return 0;
}

}  // namespace velkar::fn
