// The host's dialogs (see dialog.h).
#include "velkar/console/dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "velkar/shop/codepage.h"
#include "velkar/core/reset.h"

namespace velkar::dialog {
namespace {

uint16_t get16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string itemName(size_t index, bool frame) {
  return frame ? "the frame item" : "item " + std::to_string(index);
}

std::string hex(unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%04X", value);
  return buffer;
}

// Reads one item at `pos` (which moves past it); false with a reason.
bool parseItem(const unsigned char* base, size_t& pos, size_t end, size_t index, bool isFrame,
               Item& item, std::string& error) {
  const std::string name = itemName(index, isFrame);
  item.offset = pos;
  if (end - pos < 2) {
    error = name + " at byte " + std::to_string(pos) + " runs past the end of the record";
    return false;
  }
  bool input = false;
  if (get16(base + pos) == ITEM_INPUT) {
    if (end - pos < INPUT_PREFIX_SIZE) {
      error = name + " at byte " + std::to_string(pos) + " runs past the end of the record";
      return false;
    }
    const uint16_t body = get16(base + pos + 2);
    if (body != INPUT_BODY_SIZE) {
      error = name + " (an input item) announces a body of " + std::to_string(body) +
              " bytes; input items have " + std::to_string(INPUT_BODY_SIZE);
      return false;
    }
    input = true;
    pos += INPUT_PREFIX_SIZE;
  }
  const size_t fixed = input ? INPUT_BODY_SIZE : ITEM_HEADER_SIZE;
  if (end - pos < fixed) {
    error = name + " at byte " + std::to_string(item.offset) + " runs past the end of the record";
    return false;
  }
  const unsigned char* h = base + pos;
  item.type = get16(h);
  item.id = get16(h + 2);
  item.flags = get16(h + 4);
  item.hotKey = get16(h + 6);
  item.column = get16(h + 8);
  item.row = get16(h + 10);
  item.width = get16(h + 12);
  item.height = get16(h + 14);
  item.reserved = get32(h + 16);
  if (input && item.type != ITEM_INPUT) {
    error = name + " is announced as an input item but its header has type " + hex(item.type);
    return false;
  }
  if (isFrame && item.type != ITEM_FRAME) {
    error = "the record does not start with a frame item (type " + hex(item.type) + ")";
    return false;
  }
  if (!isFrame && item.type == ITEM_FRAME) {
    error = name + " is a second frame item";
    return false;
  }
  if (!isFrame && item.type != ITEM_BUTTON && item.type != ITEM_RADIO && item.type != ITEM_LABEL &&
      item.type != ITEM_TEXT && item.type != ITEM_INPUT) {
    error = name + " has an unknown item type " + hex(item.type);
    return false;
  }
  if (input) {
    std::memcpy(item.params.data(), h + ITEM_HEADER_SIZE, INPUT_PARAMS_SIZE);
    item.maxLength = get16(item.params.data() + INPUT_MAX_LENGTH_AT);
    if (item.maxLength == 0) {
      error = name + " (an input item) has a maximum length of 0";
      return false;
    }
  }
  pos += fixed;
  const void* zero = std::memchr(base + pos, 0, end - pos);
  if (!zero) {
    error = name + "'s text runs past the end of the record";
    return false;
  }
  const size_t length = static_cast<const unsigned char*>(zero) - (base + pos);
  item.text.assign(reinterpret_cast<const char*>(base + pos), length);
  pos += length + 1;
  return true;
}

// Running dialogs, innermost last.
std::vector<Session*>& running() {
  static std::vector<Session*> stack;
  return stack;
}

struct Running {
  explicit Running(Session* s) { running().push_back(s); }
  ~Running() { running().pop_back(); }
};

void resetDialogs() {
  running().clear();
}
ResetHook resetHook(&resetDialogs);

std::string resultName(int result) {
  if (result == ui::DIALOG_OK) return "OK";
  if (result == ui::DIALOG_CANCEL) return "Anuluj";
  return hex(static_cast<unsigned>(result) & 0xFFFF);
}

void put(std::vector<ui::Line>& canvas, int row, int column, const ui::Line& line, int width,
         uint8_t extra = 0) {
  if (row < 0 || row >= static_cast<int>(canvas.size())) return;
  ui::Line& target = canvas[static_cast<size_t>(row)];
  for (int i = 0; i < width && i < static_cast<int>(line.size()); ++i) {
    const int c = column + i;
    if (c < 0 || c >= static_cast<int>(target.size())) break;
    target[static_cast<size_t>(c)] = line[static_cast<size_t>(i)];
    target[static_cast<size_t>(c)].attr |= extra;
  }
}

}  // namespace

// --- The record
// -----------------------------------------------------------------------------------

bool parseDialog(const void* bytes, size_t available, DialogModel& out, std::string& error) {
  out = DialogModel{};
  const unsigned char* base = static_cast<const unsigned char*>(bytes);
  if (!bytes) {
    error = "no description record";
    return false;
  }
  if (available < RECORD_HEADER_SIZE) {
    error = "the record is shorter than its 8-byte header";
    return false;
  }
  const uint64_t size = uint64_t{get32(base)} + 4;
  if (size > available) {
    error = "the record claims " + std::to_string(size - 4) + " bytes after its first field, but " +
            std::to_string(available - 4) + " are there";
    return false;
  }
  const uint16_t fromFrame = get16(base + 4);
  if (uint64_t{fromFrame} + RECORD_HEADER_SIZE != size) {
    error = "the byte counts do not add up: " + std::to_string(size - 4) +
            " bytes after the first field, but " + std::to_string(fromFrame) +
            " from the frame item on (expected " + std::to_string(size - RECORD_HEADER_SIZE) + ")";
    return false;
  }
  const uint16_t count = get16(base + 6);
  const size_t end = static_cast<size_t>(size);
  size_t pos = RECORD_HEADER_SIZE;
  if (!parseItem(base, pos, end, 0, true, out.frame, error)) return false;
  if (out.frame.width < 4 || out.frame.width > 250 || out.frame.height < 3 ||
      out.frame.height > 100) {
    error = "the frame's size " + std::to_string(out.frame.width) + "x" +
            std::to_string(out.frame.height) + " cannot be shown";
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    Item item;
    if (!parseItem(base, pos, end, i, false, item, error)) return false;
    if (item.column + item.width > out.frame.width || item.row + item.height > out.frame.height) {
      error = itemName(i, false) + " lies outside the frame";
      return false;
    }
    out.items.push_back(std::move(item));
  }
  if (pos != end) {
    error = "the byte counts do not add up: " + std::to_string(end - pos) +
            " bytes are left after the last of " + std::to_string(count) + " items";
    return false;
  }
  out.size = end;
  return true;
}

std::vector<Binding> bindings(const DialogModel& model) {
  std::vector<Binding> out;
  size_t offset = 0;
  const auto& items = model.items;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!(items[i].flags & FLAG_DATA)) continue;
    if (items[i].type == ITEM_INPUT) {
      const size_t size = size_t{items[i].maxLength} + 1;
      out.push_back({Binding::INPUT, i, i, offset, size});
      offset += size;
    } else if (items[i].type == ITEM_RADIO) {
      size_t last = i;
      while (last + 1 < items.size() && items[last + 1].type == ITEM_RADIO &&
             (items[last + 1].flags & FLAG_DATA))
        ++last;
      out.push_back({Binding::RADIO_GROUP, i, last, offset, 2});
      offset += 2;
      i = last;
    }
  }
  return out;
}

size_t dataSize(const DialogModel& model) {
  size_t size = 0;
  for (const Binding& b : bindings(model)) size += b.size;
  return size;
}

// --- The running dialog
// ---------------------------------------------------------------------------

Session::Session(DialogModel model, DialogKeyHandler keys)
    : model_(std::move(model)), keys_(keys), bindings_(bindings(model_)) {
  const auto& items = model_.items;
  fields_.resize(items.size());
  groupOfItem_.assign(items.size(), -1);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].type == ITEM_INPUT)
      fields_[i].edit = ui::LineEdit(items[i].text, items[i].maxLength);
    if (items[i].type != ITEM_RADIO) continue;
    const bool bound = items[i].flags & FLAG_DATA;
    size_t last = i;
    while (last + 1 < items.size() && items[last + 1].type == ITEM_RADIO &&
           bool(items[last + 1].flags & FLAG_DATA) == bound)
      ++last;
    for (size_t j = i; j <= last; ++j) groupOfItem_[j] = static_cast<int>(groups_.size());
    groups_.emplace_back(i, last);
    groupValues_.push_back(0);
    i = last;
  }
  focus_ = 0;
  for (size_t i = 0; i < items.size(); ++i)
    if (focusable(i)) {
      focus_ = static_cast<int>(i);
      break;
    }
}

void Session::load(const void* data) {
  if (!data) return;
  const unsigned char* d = static_cast<const unsigned char*>(data);
  for (const Binding& b : bindings_) {
    if (b.kind == Binding::INPUT) {
      const size_t max = model_.items[b.first].maxLength;
      const void* zero = std::memchr(d + b.offset, 0, max);
      const size_t length = zero ? static_cast<const unsigned char*>(zero) - (d + b.offset) : max;
      setInputText(b.first, std::string(reinterpret_cast<const char*>(d + b.offset), length));
      // The text the dialog opens with is selected.
      if (!loaded_) fields_[b.first].edit.set(fields_[b.first].edit.text, true);
    } else {
      setRadioValue(b.first, static_cast<int16_t>(get16(d + b.offset)));
    }
  }
  loaded_ = true;
}

void Session::store(void* data) const {
  if (!data) return;
  unsigned char* d = static_cast<unsigned char*>(data);
  for (const Binding& b : bindings_) {
    if (b.kind == Binding::INPUT) {
      const std::string& text = fields_[b.first].edit.text;
      std::memset(d + b.offset, 0, b.size);
      std::memcpy(d + b.offset, text.data(), std::min(text.size(), b.size - 1));
    } else {
      const uint16_t v = static_cast<uint16_t>(radioValue(b.first));
      d[b.offset] = static_cast<unsigned char>(v & 0xFF);
      d[b.offset + 1] = static_cast<unsigned char>(v >> 8);
    }
  }
}

bool Session::focusable(size_t item) const {
  const uint16_t t = model_.items[item].type;
  return t == ITEM_INPUT || t == ITEM_RADIO || t == ITEM_BUTTON;
}

bool Session::setFocus(int item) {
  if (item < 0 || item >= static_cast<int>(model_.items.size())) return false;
  focusTo(item);
  return true;
}

void Session::focusTo(int item) {
  focus_ = item;
  const size_t i = static_cast<size_t>(item);
  if (model_.items[i].type == ITEM_INPUT) fields_[i].edit.set(fields_[i].edit.text, true);
}

std::string Session::inputText(size_t item) const {
  return item < fields_.size() ? fields_[item].edit.text : std::string();
}

bool Session::inputSelected(size_t item) const {
  return item < fields_.size() && fields_[item].edit.selected;
}

void Session::setInputText(size_t item, std::string text) {
  if (item >= fields_.size() || model_.items[item].type != ITEM_INPUT) return;
  fields_[item].edit.set(std::move(text), false);
  fields_[item].scroll = 0;
}

std::optional<size_t> Session::groupOf(size_t item) const {
  if (item >= groupOfItem_.size() || groupOfItem_[item] < 0) return std::nullopt;
  return static_cast<size_t>(groupOfItem_[item]);
}

int Session::radioValue(size_t item) const {
  auto g = groupOf(item);
  return g ? groupValues_[*g] : 0;
}

void Session::setRadioValue(size_t item, int value) {
  if (auto g = groupOf(item)) groupValues_[*g] = value;
}

std::optional<size_t> Session::firstOf(uint16_t type) const {
  for (size_t i = 0; i < model_.items.size(); ++i)
    if (model_.items[i].type == type) return i;
  return std::nullopt;
}

void Session::moveFocus(int direction) {
  const int n = static_cast<int>(model_.items.size());
  for (int step = 1; step <= n; ++step) {
    const int i = ((focus_ + direction * step) % n + n) % n;
    if (focusable(static_cast<size_t>(i))) {
      focusTo(i);
      return;
    }
  }
}

int Session::offer(int key, int item) {
  if (!keys_) return 0;
  return keys_(static_cast<unsigned short>(key), static_cast<unsigned short>(item));
}

std::optional<int> Session::press(size_t button, bool byHotKey) {
  const Item& b = model_.items[button];
  if (!(b.flags & FLAG_DELIVERS)) return b.id;
  if (!byHotKey) {
    int owner = static_cast<int>(button);
    for (int i = owner - 1; i >= 0; --i)
      if (model_.items[static_cast<size_t>(i)].type == ITEM_INPUT) {
        owner = i;
        break;
      }
    offer(b.id, owner);
  }
  return std::nullopt;
}

std::optional<int> Session::handleKey(int key) {
  if (offer(key, focus_) == -2) return std::nullopt;
  const auto& items = model_.items;
  if (key == ui::KEY_ESC) return ui::DIALOG_CANCEL;
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].type == ITEM_BUTTON && items[i].hotKey && items[i].hotKey == key)
      return press(i, true);
  for (size_t i = 0; i < items.size(); ++i) {
    const Item& label = items[i];
    if (label.type == ITEM_LABEL && label.hotKey && label.hotKey < 0x80 &&
        key == ui::altKey(static_cast<char>(label.hotKey))) {
      for (size_t j = i + 1; j < items.size(); ++j)
        if (focusable(j)) {
          focusTo(static_cast<int>(j));
          break;
        }
      return std::nullopt;
    }
  }
  const size_t focus = static_cast<size_t>(focus_);
  const uint16_t type = items.empty() ? uint16_t{ITEM_LABEL} : items[focus].type;
  if (key == ui::KEY_ENTER) {
    if (type == ITEM_BUTTON) return press(focus, false);
    return ui::DIALOG_OK;
  }
  if (key == ui::KEY_TAB) {
    moveFocus(1);
  } else if (key == ui::KEY_SHIFT_TAB) {
    moveFocus(-1);
  } else if (type == ITEM_RADIO && (key == ui::KEY_UP || key == ui::KEY_DOWN)) {
    const auto [first, last] = groups_[*groupOf(focus)];
    const int next = focus_ + (key == ui::KEY_UP ? -1 : 1);
    if (next >= static_cast<int>(first) && next <= static_cast<int>(last)) {
      focus_ = next;
      setRadioValue(focus, next - static_cast<int>(first));
    } else {
      moveFocus(key == ui::KEY_UP ? -1 : 1);
    }
  } else if (type == ITEM_RADIO && key == ui::KEY_SPACE) {
    setRadioValue(focus, focus_ - static_cast<int>(groups_[*groupOf(focus)].first));
  } else if (key == ui::KEY_UP) {
    moveFocus(-1);
  } else if (key == ui::KEY_DOWN) {
    moveFocus(1);
  } else if (type == ITEM_INPUT) {
    fields_[focus].edit.handle(key);
  } else if (key == ui::KEY_LEFT || key == ui::KEY_RIGHT) {
    moveFocus(key == ui::KEY_LEFT ? -1 : 1);
  }
  return std::nullopt;
}

// --- The face
// -------------------------------------------------------------------------------------

std::vector<ui::Line> Session::render(ui::Style style, bool showFocus) const {
  const int w = model_.frame.width, h = model_.frame.height;
  std::vector<ui::Line> canvas(static_cast<size_t>(h), ui::Line(static_cast<size_t>(w)));
  for (auto& line : canvas)
    for (auto& cell : line) cell.ch = " ";
  const ui::FrameGlyphs& g = ui::frameGlyphs();
  for (int c = 1; c < w - 1; ++c) {
    canvas[0][static_cast<size_t>(c)].ch = g.horizontal;
    canvas[static_cast<size_t>(h - 1)][static_cast<size_t>(c)].ch = g.horizontal;
  }
  for (int r = 1; r < h - 1; ++r) {
    canvas[static_cast<size_t>(r)][0].ch = g.vertical;
    canvas[static_cast<size_t>(r)][static_cast<size_t>(w - 1)].ch = g.vertical;
  }
  canvas[0][0].ch = g.topLeft;
  canvas[0][static_cast<size_t>(w - 1)].ch = g.topRight;
  canvas[static_cast<size_t>(h - 1)][0].ch = g.bottomLeft;
  canvas[static_cast<size_t>(h - 1)][static_cast<size_t>(w - 1)].ch = g.bottomRight;

  const ui::LayoutOptions options{style, 250, true};
  if (!model_.frame.text.empty()) {
    ui::Line title = ui::layoutText(model_.frame.text, options).front();
    title.insert(title.begin(), ui::Cell{" ", 0});
    title.push_back(ui::Cell{" ", 0});
    const int width = std::min(static_cast<int>(title.size()), w - 2);
    put(canvas, 0, (w - width) / 2, title, width);
  }

  for (size_t i = 0; i < model_.items.size(); ++i) {
    const Item& item = model_.items[i];
    const bool focused = showFocus && static_cast<int>(i) == focus_;
    const uint8_t mark = focused ? ui::ATTR_REVERSE : 0;
    const int row = item.row, col = item.column, width = item.width;
    switch (item.type) {
      case ITEM_LABEL:
      case ITEM_TEXT: {
        const auto lines = ui::layoutText(item.text, options);
        for (size_t l = 0; l < lines.size() && l < std::max<size_t>(1, item.height); ++l)
          put(canvas, row + static_cast<int>(l), col, lines[l], width);
        break;
      }
      case ITEM_RADIO: {
        const int index = static_cast<int>(i - groups_[*groupOf(i)].first);
        ui::Line line = ui::plainLine(
            radioValue(i) == index ? "(" + std::string(ui::frameGlyphs().chosen) + ") " : "( ) ");
        const ui::Line text = ui::layoutText(item.text, options).front();
        line.insert(line.end(), text.begin(), text.end());
        put(canvas, row, col, line, width, mark);
        break;
      }
      case ITEM_BUTTON: {
        ui::Line line = ui::plainLine("[");
        const ui::Line text = ui::layoutText(item.text, options).front();
        line.insert(line.end(), text.begin(), text.end());
        line.push_back(ui::Cell{"]", 0});
        put(canvas, row, col, line, width, mark);
        break;
      }
      case ITEM_INPUT: {
        // "[" text "]" and one column of space: the text shows width - 3 columns, scrolled so
        // that the cursor stays in sight. The focused field is underlined, its selected text in
        // reverse video.
        const Field& f = fields_[i];
        const ui::LineEdit& e = f.edit;
        const size_t visible = static_cast<size_t>(std::max(1, width - 3));
        size_t scroll = f.scroll;
        if (e.cursor < scroll) scroll = e.cursor;
        if (e.cursor >= scroll + visible) scroll = e.cursor - visible + 1;
        ui::Line line = ui::plainLine("[");
        ui::Line text =
            ui::plainLine(ui::hostToUtf8(e.text.substr(std::min(scroll, e.text.size()))));
        const size_t filled = std::min(text.size(), visible);
        text.resize(visible, ui::Cell{" ", 0});
        if (focused)
          for (size_t c = 0; c < text.size(); ++c)
            text[c].attr |= ui::ATTR_UNDERLINE | (e.selected && c < filled ? ui::ATTR_REVERSE : 0);
        line.insert(line.end(), text.begin(), text.end());
        line.push_back(ui::Cell{"]", 0});
        put(canvas, row, col, line, width);
        f.scroll = scroll;
        break;
      }
      default:
        break;
    }
  }
  return canvas;
}

std::optional<std::pair<int, int>> Session::cursor() const {
  if (model_.items.empty()) return std::nullopt;
  const Item& item = model_.items[static_cast<size_t>(focus_)];
  if (item.type != ITEM_INPUT) return std::nullopt;
  const Field& f = fields_[static_cast<size_t>(focus_)];
  const size_t at = f.edit.cursor;
  return std::make_pair(int{item.row},
                        int{item.column} + 1 + static_cast<int>(at - std::min(f.scroll, at)));
}

std::string Session::face() const {
  const auto canvas = render(ui::Style::Plain, false);
  std::vector<std::string> rows;
  for (size_t r = 1; r + 1 < canvas.size(); ++r) {
    ui::Line inside(canvas[r].begin() + 1, canvas[r].end() - 1);
    std::string text = ui::renderLine(inside, ui::Style::Plain);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    rows.push_back(text);
  }
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  std::string out;
  for (size_t i = 0; i < rows.size(); ++i) out += (i ? "\n" : "") + rows[i];
  return out;
}

// --- runDialog
// --------------------------------------------------------------------------------------

namespace {

// Answers the dialog from a script line; the dialog's result.
int runScripted(Session& session, const std::string& line) {
  std::optional<std::string> file;
  std::optional<int> format;
  std::vector<std::string> keys;
  int result = ui::DIALOG_OK;
  std::vector<std::string> words;
  scriptWords(line, words);
  for (const std::string& t : words) {
    const size_t eq = t.find('=');
    const std::string name = t.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : t.substr(eq + 1);
    char* end = nullptr;
    if (name == "file" && eq != std::string::npos) {
      file = value;
    } else if (name == "format" && eq != std::string::npos) {
      const long n = std::strtol(value.c_str(), &end, 0);
      if (value.empty() || *end || n < -32768 || n > 65535)
        ui::scriptComplaint("dialog", "bad format '" + value + "'");
      else
        format = static_cast<int>(n);
    } else if (name == "keys" && eq != std::string::npos) {
      for (size_t start = 0; start <= value.size();) {
        const size_t comma = std::min(value.find(',', start), value.size());
        if (comma > start) keys.push_back(value.substr(start, comma - start));
        start = comma + 1;
      }
    } else if (t == "ok") {
      result = ui::DIALOG_OK;
    } else if (t == "cancel") {
      result = ui::DIALOG_CANCEL;
    } else if (name == "code" && eq != std::string::npos) {
      const unsigned long n = std::strtoul(value.c_str(), &end, 0);
      if (value.empty() || *end || n > 0xFFFF)
        ui::scriptComplaint("dialog", "bad code '" + value + "'");
      else
        result = static_cast<int>(n);
    } else {
      ui::scriptComplaint("dialog", "'" + t + "' not understood");
    }
  }

  for (const std::string& k : keys) {
    std::string keyText = k;
    if (const size_t colon = k.find(':'); colon != std::string::npos && k.rfind("item", 0) == 0) {
      const std::string number = k.substr(4, colon - 4);
      char* end = nullptr;
      const long n = std::strtol(number.c_str(), &end, 10);
      if (number.empty() || *end || !session.setFocus(static_cast<int>(n))) {
        ui::scriptComplaint("dialog", "no item '" + number + "'");
        continue;
      }
      keyText = k.substr(colon + 1);
    }
    const auto key = ui::keyFromName(keyText);
    if (!key) {
      ui::scriptComplaint("dialog", "unknown key '" + keyText + "'");
      continue;
    }
    if (auto closed = session.handleKey(*key)) return *closed;
  }

  if (file) {
    if (auto input = session.firstOf(ITEM_INPUT))
      session.setInputText(*input, codepage::fromUtf8(*file, codepage::MAZOVIA));
    else
      ui::scriptComplaint("dialog", "no input item for file=");
  }
  if (format) {
    if (auto radio = session.firstOf(ITEM_RADIO))
      session.setRadioValue(*radio, *format);
    else
      ui::scriptComplaint("dialog", "no radio items for format=");
  }
  return result;
}

int runInteractive(Session& session) {
  std::ostream& out = ui::out();
  const ui::Style style = ui::style();
  ui::RawMode raw;
  ui::FullScreen screen;
  int result = ui::DIALOG_CANCEL;
  // The frame and the line of keys under it: below that, the terminal is too small to draw it.
  const int columns = session.model().frame.width + 1, rows = session.model().frame.height + 2;
  for (;;) {
    if (!ui::terminalFits(columns, rows)) {
      if (!ui::waitForRoom(columns, rows)) break;
      continue;
    }
    out << "\x1b[H\x1b[2J";
    for (const ui::Line& line : session.render(style, true))
      out << ui::renderLine(line, style) << "\n";
    out << "Tab - następne pole, Enter - akceptuj, Esc - rezygnuj";
    if (auto c = session.cursor())
      out << "\x1b[" << c->first + 1 << ";" << c->second + 1 << "H\x1b[?25h";
    else
      out << "\x1b[?25l";
    out << std::flush;
    const int key = ui::readKey(true);
    if (key < 0) break;
    if (key == ui::KEY_RESIZE) continue;
    if (auto closed = session.handleKey(key)) {
      result = *closed;
      break;
    }
  }
  out << "\x1b[?25h\x1b[" << session.model().frame.height + 2 << ";1H\x1b[K" << std::flush;
  return result;
}

}  // namespace

int runDialog(const void* description, void* data, DialogKeyHandler keys) {
  std::string error;
  DialogModel model;
  size_t available = 0;
  if (description) {
    const uint64_t claimed = uint64_t{get32(static_cast<const unsigned char*>(description))} + 4;
    // The record's own first field says how far it reaches; nothing beyond a plausible size is
    // read.
    available = static_cast<size_t>(std::min<uint64_t>(claimed, MAX_RECORD_SIZE));
    if (claimed > MAX_RECORD_SIZE) {
      error = "the record claims " + std::to_string(claimed - 4) + " bytes, more than a dialog has";
    }
  }
  if (!error.empty() || !parseDialog(description, available, model, error)) {
    std::cerr << "velkar: runDialog: faulty dialog description: " << error << "\n";
    ui::record({"dialog", "", "faulty description: " + error, ui::DIALOG_CANCEL});
    return ui::DIALOG_CANCEL;
  }

  Session session(std::move(model), keys);
  session.load(data);
  Running guard(&session);

  int result;
  if (auto line = ui::takeScript("dialog")) {
    result = runScripted(session, *line);
  } else if (ui::interactive()) {
    result = runInteractive(session);
  } else {
    result = ui::DIALOG_OK;
  }
  if (result != ui::DIALOG_CANCEL) session.store(data);

  const std::string title = ui::stripMarkup(session.model().frame.text, true);
  if (!ui::interactive()) {
    const ui::Style style = ui::style();
    for (const ui::Line& line : session.render(style, false))
      ui::out() << ui::renderLine(line, style) << "\n";
  }
  ui::out() << "» " << resultName(result) << "\n" << std::flush;
  ui::record({"dialog", title, session.face(), result});
  return result;
}

Session* activeSession() {
  return running().empty() ? nullptr : running().back();
}

int exchangeData(void* data, int toData) {
  Session* s = activeSession();
  if (!s || !data) return -1;
  if (toData)
    s->store(data);
  else
    s->load(data);
  return 0;
}

int notifyItem(int id) {
  Session* s = activeSession();
  if (!s) return -1;
  for (const Item& item : s->model().items)
    if (item.id == static_cast<uint16_t>(id) && id != NO_ID) {
      s->notified.push_back(item.id);
      return 0;
    }
  return -1;
}

bool scriptWords(const std::string& line, std::vector<std::string>& out) {
  std::string current;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (any) out.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) out.push_back(current);
  return !quoted;
}

}  // namespace velkar::dialog
