// The import dialog as the host's dialog function takes it: a packed, little-endian description
// record of a frame and nine items, and the key handler the host calls while the dialog runs.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/bytes.h"
#include "common/mazovia.h"
#include "host/dialog.h"
#include "host/host_list.h"

// The import dialog's item codes.
enum : uint16_t {
  FILE_NAME_ITEM_ID = 0x4101,  // the file-name input item
  FILE_NAME_ITEM = 1,          // its number for the key handler
};

// The items' texts, in UTF-8 here and in the host code page in the record.
#define DIALOG_TITLE_TEXT "Wprowadź"
#define DIALOG_FILE_LABEL_TEXT "~P~lik towarów:"
#define DIALOG_FILE_INPUT_TEXT ""
#define DIALOG_F3_BUTTON_TEXT \
  "\x05"                      \
  "F3\x01 Zmień plik"
#define DIALOG_FORMAT_LABEL_TEXT "Format pliku:"
#define DIALOG_FORMAT0_TEXT "KOD_KRESOWY,STAWKA_VAT[CR][LF]"
#define DIALOG_FORMAT1_TEXT "CZĘŚĆ NAZWY TOWARU,STAWKA_VAT[CR][LF]"
#define DIALOG_FORMAT2_TEXT "KOD_KRESOWY,Kod CN[CR][LF]"
#define DIALOG_HELP_TEXT                                                                  \
  "Plik importowany ma być w formacie tekstowym:\nKOD_KRESOWY,STAWKA_VAT[CR][LF]\nlub\n" \
  "CZĘŚĆ_NAZWY_TOWARU,STAWKA_VAT[CR][LF]"
#define DIALOG_OK_BUTTON_TEXT \
  "\x05"                      \
  "F12\x01 OK"

template <size_t N>
using DialogText = mazovia::Bytes<N>;
#define DIALOG_TEXT_FIELD(utf8) DialogText<MZ_SIZE(utf8)>

struct DialogDescription {
  le32 bytesAfterSize;  // from offset 4 to the zero byte ending the last text: 506
  le16 bytesFromFrame;  // from the frame item to the same end: 502
  le16 itemCount;       // items after the frame: 9

  DialogItem frame;
  DIALOG_TEXT_FIELD(DIALOG_TITLE_TEXT) frameText;

  DialogItem fileLabel;  // item 0
  DIALOG_TEXT_FIELD(DIALOG_FILE_LABEL_TEXT) fileLabelText;

  le16 fileInputType;      // item 1, preceded by its type and its body size
  le16 fileInputBodySize;  // header and parameters: 38
  DialogItem fileInput;
  InputParameters fileInputParameters;
  DIALOG_TEXT_FIELD(DIALOG_FILE_INPUT_TEXT) fileInputText;

  DialogItem chooseButton;  // item 2
  DIALOG_TEXT_FIELD(DIALOG_F3_BUTTON_TEXT) chooseButtonText;

  DialogItem formatLabel;  // item 3
  DIALOG_TEXT_FIELD(DIALOG_FORMAT_LABEL_TEXT) formatLabelText;

  DialogItem format0;  // item 4
  DIALOG_TEXT_FIELD(DIALOG_FORMAT0_TEXT) format0Text;
  DialogItem format1;  // item 5
  DIALOG_TEXT_FIELD(DIALOG_FORMAT1_TEXT) format1Text;
  DialogItem format2;  // item 6
  DIALOG_TEXT_FIELD(DIALOG_FORMAT2_TEXT) format2Text;

  DialogItem help;  // item 7
  DIALOG_TEXT_FIELD(DIALOG_HELP_TEXT) helpText;

  DialogItem okButton;  // item 8
  DIALOG_TEXT_FIELD(DIALOG_OK_BUTTON_TEXT) okButtonText;
};
static_assert(sizeof(DialogDescription) == 510);
static_assert(alignof(DialogDescription) == 1);
static_assert(offsetof(DialogDescription, bytesAfterSize) == 0);
static_assert(offsetof(DialogDescription, bytesFromFrame) == 4);
static_assert(offsetof(DialogDescription, itemCount) == 6);
static_assert(offsetof(DialogDescription, frame) == 8);
static_assert(offsetof(DialogDescription, frameText) == 28);
static_assert(offsetof(DialogDescription, fileLabel) == 37);
static_assert(offsetof(DialogDescription, fileLabelText) == 57);
static_assert(offsetof(DialogDescription, fileInputType) == 73);
static_assert(offsetof(DialogDescription, fileInputBodySize) == 75);
static_assert(offsetof(DialogDescription, fileInput) == 77);
static_assert(offsetof(DialogDescription, fileInputParameters) == 97);
static_assert(offsetof(DialogDescription, fileInputText) == 115);
static_assert(offsetof(DialogDescription, chooseButton) == 116);
static_assert(offsetof(DialogDescription, chooseButtonText) == 136);
static_assert(offsetof(DialogDescription, formatLabel) == 152);
static_assert(offsetof(DialogDescription, formatLabelText) == 172);
static_assert(offsetof(DialogDescription, format0) == 186);
static_assert(offsetof(DialogDescription, format0Text) == 206);
static_assert(offsetof(DialogDescription, format1) == 237);
static_assert(offsetof(DialogDescription, format1Text) == 257);
static_assert(offsetof(DialogDescription, format2) == 295);
static_assert(offsetof(DialogDescription, format2Text) == 315);
static_assert(offsetof(DialogDescription, help) == 342);
static_assert(offsetof(DialogDescription, helpText) == 362);
static_assert(offsetof(DialogDescription, okButton) == 481);
static_assert(offsetof(DialogDescription, okButtonText) == 501);

// The import dialog's description; the module never changes it.
extern const DialogDescription importDialogDescription;

// The key handler given to runDialog: F3 on the file-name item opens the host's file chooser.
// -2 = handled, 0 = leave the key to the host.
HOST_STDCALL int importDialogKeys(unsigned short key, unsigned short item);
