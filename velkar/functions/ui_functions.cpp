// The host functions of the user interface: message windows, dialogs, choosers, the progress
// display and the stop request. The work is done by the console UI (ui.h) and the dialogs
// (dialog.h); these functions journal each call, apply fault injection and pass the arguments on.
//
// A message function that fails shows nothing and answers DIALOG_CANCEL; runDialog likewise; the
// choosers answer -1 (no choice); stopRequested answers 1; the dialog-data functions -1.
#include <cstdio>
#include <string>

#include "velkar/console/dialog.h"
#include "velkar/core/host_state.h"
#include "velkar/core/host_functions.h"
#include "velkar/console/ui.h"

namespace velkar::fn {
namespace {

// Formats like wsprintfA / vsnprintf; the bytes are host bytes throughout.
std::string formatList(const char* format, va_list args) {
  if (!format) return "";
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length < 0) return format;
  std::string text(static_cast<size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

const char* orEmpty(const char* text) {
  return text ? text : "";
}

// A 16-bit answer as the host hands it over: with a non-zero high half in that reading.
int code16(int code) {
  if (!host().config.variants.messageHighHalf) return code;
  return static_cast<int>(0xABCD0000u | (static_cast<unsigned>(code) & 0xFFFFu));
}

}  // namespace

int showFormattedCoded(int code, const char* title, const char* format, unsigned flags,
                       unsigned tag, ...) {
  if (enterCall(35802, "showFormattedCoded",
                {arg(code), arg(title), arg(format), arg(flags), arg(tag)}))
    return code16(ui::DIALOG_CANCEL);
  va_list args;
  va_start(args, tag);
  const std::string text = formatList(format, args);
  va_end(args);
  return code16(ui::showMessage(orEmpty(title), text, 1));
}

int showFormatted(const char* title, const char* format, unsigned flags, unsigned tag, ...) {
  if (enterCall(52029, "showFormatted", {arg(title), arg(format), arg(flags), arg(tag)}))
    return code16(ui::DIALOG_CANCEL);
  va_list args;
  va_start(args, tag);
  const std::string text = formatList(format, args);
  va_end(args);
  return code16(ui::showMessage(orEmpty(title), text, 1));
}

int showMessageList(int reserved, const char* caption, const char* format, int style,
                    va_list args) {
  if (enterCall(35804, "showMessageList",
                {arg(reserved), arg(caption), arg(format), arg(style), argPtr(args)}))
    return code16(ui::DIALOG_CANCEL);
  return code16(ui::showMessage(orEmpty(caption), formatList(format, args), style));
}

int showMessage(const char* title, const char* text, int style) {
  if (enterCall(52028, "showMessage", {arg(title), arg(text), arg(style)}))
    return code16(ui::DIALOG_CANCEL);
  return code16(ui::showMessage(orEmpty(title), orEmpty(text), style));
}

int showText(const char* text) {
  if (enterCall(52030, "showText", {arg(text)})) return code16(ui::DIALOG_CANCEL);
  return code16(ui::showText(orEmpty(text)));
}

int closeWaitMessage(void) {
  if (enterCall(52064, "closeWaitMessage", {})) return 0;
  ui::closeWaitMessage();
  return 0;
}

int runDialog(const void* description, int mode, void* data, DialogKeyHandler keys, int reserved) {
  if (enterCall(52026, "runDialog",
                {argPtr(description), arg(mode), argPtr(data),
                 argPtr(reinterpret_cast<const void*>(keys)), arg(reserved)}))
    return code16(ui::DIALOG_CANCEL);
  return code16(dialog::runDialog(description, data, keys));
}

int exchangeDialogData(void* data, int toData) {
  if (enterCall(52040, "exchangeDialogData", {argPtr(data), arg(toData)})) return -1;
  return dialog::exchangeData(data, toData);
}

int notifyDialogItem(int itemId) {
  if (enterCall(52041, "notifyDialogItem", {arg(itemId)})) return -1;
  return dialog::notifyItem(itemId);
}

int chooseFile(int kind, char* fileName, char* mask, int flags) {
  if (enterCall(52169, "chooseFile", {arg(kind), arg(fileName), arg(mask), arg(flags)})) return -1;
  auto chosen = ui::chooseFile(kind, orEmpty(fileName), orEmpty(mask));
  if (!chosen || !fileName) return -1;
  // At most 128 bytes of name, then the zero byte.
  const size_t length = std::min<size_t>(chosen->size(), 128);
  chosen->copy(fileName, length);
  fileName[length] = '\0';
  return 0;
}

int chooseWarehouse(int current, int kind, int reserved) {
  const int none = host().config.variants.noChoice;
  if (enterCall(52337, "chooseWarehouse", {arg(current), arg(kind), arg(reserved)})) return none;
  const int chosen = ui::chooseWarehouse(current, kind);
  return chosen < 0 ? none : chosen;
}

int beginProgress(int kind) {
  if (enterCall(52228, "beginProgress", {arg(kind)})) return 0;
  ui::beginProgress(kind);
  return 0;
}

int endProgress(void) {
  if (enterCall(52230, "endProgress", {})) return 0;
  ui::endProgress();
  return 0;
}

int updateProgress(int done, int total) {
  if (enterCall(52232, "updateProgress", {arg(done), arg(total)})) return 0;
  ui::updateProgress(done, total);
  return 0;
}

int progressIdle(int reserved) {
  enterCall(52235, "progressIdle", {arg(reserved)});
  return 0;
}

int stopRequested(void) {
  const int stop = host().config.variants.stopResult;
  if (enterCall(52460, "stopRequested", {})) return stop;
  return ui::stopRequested() ? stop : 0;
}

int showTextFile(const char* name) {
  if (enterCall(52405, "showTextFile", {arg(name)})) return -1;
  return ui::showTextFile(orEmpty(name));
}

}  // namespace velkar::fn
