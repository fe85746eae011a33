// The host's dialog description records (runDialog): the item types and flags, the header of
// every item and the parameters of an input item. A description is packed and little-endian.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/bytes.h"

// Item types.
enum : uint16_t {
  ITEM_FRAME = 0xFFFF,
  ITEM_BUTTON = 0,
  ITEM_RADIO = 1,
  ITEM_LABEL = 3,
  ITEM_TEXT = 4,
  ITEM_INPUT = 5,
};

enum : uint16_t {
  ITEM_NO_ID = 0xFFFF,            // items without a code of their own
  ITEM_FLAG_DATA = 0x0400,        // bound to the data block
  ITEM_FLAG_KEY_BUTTON = 0x0180,  // the F3 button
};

// Header of every item.
struct DialogItem {
  le16 type;
  le16 id;  // button: the code it returns or delivers
  le16 flags;
  le16 hotKey;  // a character for a label, a key code for a button
  le16 column;  // from the frame's left edge
  le16 row;     // from the frame's top edge
  le16 width;
  le16 height;
  le32 reserved;  // 0
};
static_assert(sizeof(DialogItem) == 20);
static_assert(offsetof(DialogItem, type) == 0);
static_assert(offsetof(DialogItem, id) == 2);
static_assert(offsetof(DialogItem, flags) == 4);
static_assert(offsetof(DialogItem, hotKey) == 6);
static_assert(offsetof(DialogItem, column) == 8);
static_assert(offsetof(DialogItem, row) == 10);
static_assert(offsetof(DialogItem, width) == 12);
static_assert(offsetof(DialogItem, height) == 14);
static_assert(offsetof(DialogItem, reserved) == 16);

// The parameters between an input item's header and its text.
struct InputParameters {
  le32 reserved1;  // 0
  le32 reserved2;  // 0
  le16 maxLength;  // 128
  le16 value8;     // 8
  le16 value0;     // 0
  le16 value128;   // 128
  le16 value1;     // 1
};
static_assert(sizeof(InputParameters) == 18);
static_assert(offsetof(InputParameters, maxLength) == 8);
static_assert(offsetof(InputParameters, value1) == 16);
