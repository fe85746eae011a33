// The host's dialog description parser: any bytes as the record a module hands to runDialog.
// A record that parses is then run as a dialog: its data block loaded, keys handled, its face
// drawn and the data block stored back.
//
// Input: the record; the bytes after the size the record states are the data block's contents
// (repeated to its size) and, 16 bits each, the keys pressed.
#include "velkar/console/dialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace dialog = velkar::dialog;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// A key handler that takes F3 on any item, as the module's does on its file-name item.
HOST_STDCALL int keyHandler(unsigned short key, unsigned short) {
  return key == 0x3D00 ? -2 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dialog::DialogModel model;
  std::string error;
  const bool parsed = dialog::parseDialog(data, size, model, error);
  if (!parsed) {
    if (error.empty()) fail("a record refused without a reason");
    return 0;
  }
  if (model.size > size) fail("the parser claims more bytes than it was given");

  const size_t dataSize = dialog::dataSize(model);
  // The data block, as large as the dialog binds, filled from the input's tail.
  const uint8_t* tail = data + model.size;
  const size_t tailSize = size - model.size;
  std::vector<unsigned char> block(dataSize + 1, 0xA5);  // one guard byte
  for (size_t i = 0; i < dataSize && tailSize; ++i) block[i] = tail[i % tailSize];

  dialog::Session session(model, &keyHandler);
  session.load(block.data());
  for (size_t k = 0; k + 1 < tailSize && k < 64; k += 2) {
    const int key = tail[k] | tail[k + 1] << 8;
    if (session.handleKey(key)) break;
  }
  (void)session.render(velkar::ui::Style::Marked, true);
  (void)session.face();
  (void)session.cursor();
  session.store(block.data());
  if (block[dataSize] != 0xA5) fail("the dialog wrote past its data block");
  return 0;
}
