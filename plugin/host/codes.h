// The numbers the host's functions take that are not records: result and key codes, the kinds of
// choosers and progress displays, message styles, the menu, text-file sharing.
#pragma once

#include <stdint.h>

// Result and key codes (16 bits; key codes carry the scan code in the high byte).
enum : uint16_t {
  DIALOG_OK = 0x5001,
  DIALOG_CANCEL = 0x5002,
  KEY_F3 = 0x3D00,
  KEY_F12 = 0x8600,
};

// The kind of progress display the command's passes show (beginProgress).
enum { PROGRESS_KIND = 238 };

// chooseFile and chooseWarehouse.
enum { FILE_CHOOSER_KIND = 57, WAREHOUSE_CHOOSER_KIND = 680 };

// showMessage and showMessageList styles.
enum {
  MESSAGE_PLAIN = 0,
  MESSAGE_NOTICE = 1,
  MESSAGE_EXPLANATION = 9,
  MESSAGE_WAIT = 0x200,  // stays up until closeWaitMessage
};

// addMenuOption: the host's "Inne" menu.
enum { MENU_OTHER = 1194 };

// openTextFile's sharing argument, and its waiting argument: as long as it takes.
enum { TEXT_FILE_SHARE = 0x40, TEXT_FILE_WAIT = -1 };
