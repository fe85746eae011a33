// The import dialog's description record, laid out at compile time.
#include "vatupdate/dialog_description.h"

#include "host/codes.h"
#include "vatupdate/records.h"

namespace {

consteval le16 u16(uint32_t v) {
  return le16{{static_cast<unsigned char>(v & 0xFF), static_cast<unsigned char>((v >> 8) & 0xFF)}};
}

consteval le32 u32(uint32_t v) {
  return le32{{static_cast<unsigned char>(v & 0xFF), static_cast<unsigned char>((v >> 8) & 0xFF),
               static_cast<unsigned char>((v >> 16) & 0xFF),
               static_cast<unsigned char>((v >> 24) & 0xFF)}};
}

consteval DialogItem item(uint16_t type, uint16_t id, uint16_t flags, uint16_t hotKey,
                          uint16_t column, uint16_t row, uint16_t width, uint16_t height) {
  return DialogItem{u16(type), u16(id),    u16(flags),  u16(hotKey), u16(column),
                    u16(row),  u16(width), u16(height), u32(0)};
}

// Bytes from the frame item to the end of the last text, and from after the first field.
constexpr uint32_t FROM_FRAME = sizeof(DialogDescription) - offsetof(DialogDescription, frame);
constexpr uint32_t AFTER_SIZE = sizeof(DialogDescription) - sizeof(le32);
static_assert(FROM_FRAME == 502 && AFTER_SIZE == 506);

constexpr uint16_t INPUT_BODY_SIZE = sizeof(DialogItem) + sizeof(InputParameters);
static_assert(INPUT_BODY_SIZE == 38);

}  // namespace

constinit const DialogDescription importDialogDescription = {
    u32(AFTER_SIZE),
    u16(FROM_FRAME),
    u16(9),

    item(ITEM_FRAME, 1, 0, 0, 0, 0, 65, 18),
    mazovia::text<DIALOG_TITLE_TEXT>,

    item(ITEM_LABEL, ITEM_NO_ID, 0, 'P', 2, 2, 23, 1),
    mazovia::text<DIALOG_FILE_LABEL_TEXT>,

    u16(ITEM_INPUT),
    u16(INPUT_BODY_SIZE),
    item(ITEM_INPUT, FILE_NAME_ITEM_ID, ITEM_FLAG_DATA, 0, 2, 3, 41, 1),
    InputParameters{u32(0), u32(0), u16(FILE_NAME_SIZE - 1), u16(8), u16(0), u16(128), u16(1)},
    mazovia::text<DIALOG_FILE_INPUT_TEXT>,

    item(ITEM_BUTTON, KEY_F3, ITEM_FLAG_KEY_BUTTON, KEY_F3, 43, 3, 20, 1),
    mazovia::text<DIALOG_F3_BUTTON_TEXT>,

    item(ITEM_LABEL, ITEM_NO_ID, 0, 0, 2, 5, 13, 1),
    mazovia::text<DIALOG_FORMAT_LABEL_TEXT>,

    item(ITEM_RADIO, ITEM_NO_ID, ITEM_FLAG_DATA, 0, 2, 6, 60, 1),
    mazovia::text<DIALOG_FORMAT0_TEXT>,
    item(ITEM_RADIO, ITEM_NO_ID, ITEM_FLAG_DATA, 0, 2, 7, 60, 1),
    mazovia::text<DIALOG_FORMAT1_TEXT>,
    item(ITEM_RADIO, ITEM_NO_ID, ITEM_FLAG_DATA, 0, 2, 8, 60, 1),
    mazovia::text<DIALOG_FORMAT2_TEXT>,

    item(ITEM_TEXT, ITEM_NO_ID, 0, 0, 2, 10, 60, 4),
    mazovia::text<DIALOG_HELP_TEXT>,

    item(ITEM_BUTTON, DIALOG_OK, 0, KEY_F12, 27, 15, 10, 1),
    mazovia::text<DIALOG_OK_BUTTON_TEXT>,
};
