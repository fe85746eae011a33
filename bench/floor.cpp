// The benchmark's floor: the command's host calls without the module.
#include "bench/floor.h"

#include <time.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <map>

#include "velkar/core/host_functions.h"
#include "velkar/shop/shop.h"

namespace bench {
namespace {

namespace fs = std::filesystem;
namespace fn = velkar::fn;
namespace shop = velkar::shop;

// The slot of each host function in the module's table.
enum Slot {
#define BENCH_SLOT(place, ordinal, name, CONV, Ret, params) SLOT_##name = place - 1,
  VELKAR_HOST_FUNCTIONS(BENCH_SLOT)
#undef BENCH_SLOT
};

uint64_t nanoseconds(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000ULL + static_cast<uint64_t>(t.tv_nsec);
}

// --- Variadic calls ------------------------------------------------------------------------------

constexpr size_t MAX_VAR_ARGS = 6;

// Calls f with the values as its trailing arguments, texts as const char*, numbers as int.
template <typename F, typename... Done>
int callWith(const F& f, const std::vector<VarArg>& values, Done... done) {
  constexpr size_t n = sizeof...(Done);
  if (n == values.size()) return f(done...);
  if constexpr (n < MAX_VAR_ARGS) {
    const VarArg& v = values[n];
    return v.text ? callWith(f, values, done..., v.bytes.c_str())
                  : callWith(f, values, done..., static_cast<int>(v.number));
  } else {
    return -1;  // compile() refuses longer lists
  }
}

// Takes the values a format asks for off a list. False for a conversion the floor does not pass
// on (only %s, and %d and its kin without a length modifier, occur in the command).
bool takeValues(const char* format, va_list args, std::vector<VarArg>& out) {
  for (const char* p = format; p && *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p && std::strchr("-+ #0", *p)) ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9') ++p;
    }
    switch (*p) {
      case 's': {
        const char* text = va_arg(args, const char*);
        if (!text) return false;
        out.push_back({true, 0, text});
        break;
      }
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'c':
        out.push_back({false, va_arg(args, int32_t), {}});
        break;
      default:
        return false;
    }
  }
  return out.size() <= MAX_VAR_ARGS;
}

// showMessageList takes a va_list: the floor makes one from its values.
HOST_CDECL int showMessageListOf(int reserved, const char* caption, const char* format, int style,
                                 ...) {
  va_list args;
  va_start(args, style);
  const int result = fn::showMessageList(reserved, caption, format, style, args);
  va_end(args);
  return result;
}

// --- The phase clock -----------------------------------------------------------------------------

PhaseTimes* clockTimes = nullptr;
int clockPhase = PHASE_PREAMBLE;

// The phase a call of the named function begins, from the phase the run is in; the same rule
// for the command (its clock) and the floor (its compiler).
int phaseAfter(const std::string& name, int phase) {
  if (name == "openTextFile" && phase < PHASE_RATE_FILE) return PHASE_RATE_FILE;
  if (name == "dataFilePath" && phase < PHASE_EXTRA_CODES) return PHASE_EXTRA_CODES;
  if (name == "warehouseFilePath" && phase < PHASE_PRODUCTS) return PHASE_PRODUCTS;
  if (name == "showMessage" && phase == PHASE_PRODUCTS) return PHASE_REPORT;
  return phase;
}

void clockCall(const char* name) {
  if (!clockTimes) return;
  const int next = phaseAfter(name, clockPhase);
  if (next == clockPhase) return;
  clockPhase = next;
  clockTimes->begin[next] = now();
  clockTimes->seen[next] = true;
}

HOST_STDCALL void* clockOpenTextFile(const char* name, const char* mode, int share, int reserved,
                                     int wait) {
  clockCall("openTextFile");
  return fn::openTextFile(name, mode, share, reserved, wait);
}

HOST_STDCALL char* clockDataFilePath(int fileNumber, int variant, char* path, int reserved) {
  clockCall("dataFilePath");
  return fn::dataFilePath(fileNumber, variant, path, reserved);
}

HOST_STDCALL char* clockWarehouseFilePath(int warehouse, char* path, const char* prefix,
                                          const char* extension, int kind) {
  clockCall("warehouseFilePath");
  return fn::warehouseFilePath(warehouse, path, prefix, extension, kind);
}

HOST_STDCALL int clockShowMessage(const char* title, const char* text, int style) {
  clockCall("showMessage");
  return fn::showMessage(title, text, style);
}

// --- The recorders -------------------------------------------------------------------------------

Recording* recording = nullptr;

HOST_STDCALL void* recordReallocMemory(void* block, int size) {
  void* result = fn::reallocMemory(block, size);
  recording->memory.emplace_back(block, result);
  return result;
}

HOST_STDCALL void recordFreeMemory(void* block) {
  recording->memory.emplace_back(block, nullptr);
  fn::freeMemory(block);
}

HOST_CDECL int recordPrintToFile(void* file, const char* format, ...) {
  std::vector<VarArg> values;
  va_list args;
  va_start(args, format);
  const bool taken = takeValues(format, args, values);
  va_end(args);
  if (!taken) {
    recording->error = "printToFile with a format the floor cannot pass on: " +
                       std::string(format ? format : "(null)");
    return -1;
  }
  recording->prints.push_back(values);
  return callWith([&](auto... v) { return fn::printToFile(file, format, v...); }, values);
}

HOST_STDCALL int recordShowMessageList(int reserved, const char* caption, const char* format,
                                       int style, va_list args) {
  std::vector<VarArg> values;
  va_list copy;
  va_copy(copy, args);
  if (!takeValues(format, copy, values))
    recording->error = "showMessageList with a format the floor cannot pass on: " +
                       std::string(format ? format : "(null)");
  va_end(copy);
  recording->lists.push_back(values);
  return fn::showMessageList(reserved, caption, format, style, args);
}

// --- Compiling
// ------------------------------------------------------------------------------------

enum Code : uint8_t {
  PHASE,
  OPEN_TEXT,
  CLOSE_TEXT,
  SEEK,
  TELL,
  BEGIN_PROGRESS,
  END_PROGRESS,
  UPDATE_PROGRESS,
  PROGRESS_IDLE,
  STOP,
  READ_LINE,
  GET_FIELD,
  COPY_FIELD,
  CONVERT_KEY,
  REALLOC,
  FREE,
  DATA_PATH,
  WAREHOUSE_PATH,
  OPEN_CURSOR,
  READ_RECORD,
  CLOSE_CURSOR,
  COPY_TO_RECORD,
  NORMALISE_TEXT,
  NORMALISE_NAME,
  WRITE_RECORD,
  SHOW_MESSAGE,
  PRINT,
  CLOSE_WAIT,
  SHOW_LIST,
  SHOW_TEXT_FILE,
};

// The buffers of the floor, as large as the module's own.
constexpr size_t LINE_SIZE = 256, FIELD_SIZE = 256, KEY_SIZE = 41, CN_SIZE = 15, WORK_SIZE = 256,
                 PATH_SIZE = 260, CURSOR_SIZE = 188;
enum Target : uint8_t { TO_KEY, TO_CN };
enum Table : uint8_t { EXTRA_TABLE, PRODUCT_TABLE, TABLES };

constexpr auto NAME = shop::ProductFields::name;
constexpr auto CN_CODE = shop::ProductFields::cnCode;
constexpr auto NEW_VAT_CODE = shop::ProductFields::newVatCode;

bool isText(const std::string& arg) {
  return arg.size() >= 2 && arg.front() == '"' && arg.back() == '"';
}
std::string textOf(const std::string& arg) {
  return arg.substr(1, arg.size() - 2);
}

std::string describe(const velkar::Call& c) {
  std::string s = c.name + "(";
  for (size_t i = 0; i < c.args.size(); ++i) s += (i ? ", " : "") + c.args[i];
  return s + ")";
}

bool sameCall(const velkar::Call& a, const velkar::Call& b) {
  return a.ordinal == b.ordinal && a.name == b.name && a.args == b.args;
}

}  // namespace

const char* const phaseNames[PHASES] = {"preamble", "rate file", "additional codes", "products",
                                        "report"};

Stamp now() {
  return {nanoseconds(CLOCK_MONOTONIC), nanoseconds(CLOCK_PROCESS_CPUTIME_ID)};
}

Stamp PhaseTimes::spent(int phase) const {
  if (!seen[phase]) return {};
  int next = phase + 1;
  while (next < PHASES && !seen[next]) ++next;
  return {begin[next].wall - begin[phase].wall, begin[next].cpu - begin[phase].cpu};
}

void installPhaseClock(void** slots, PhaseTimes* times) {
  clockTimes = times;
  clockPhase = PHASE_PREAMBLE;
  slots[SLOT_openTextFile] = reinterpret_cast<void*>(&clockOpenTextFile);
  slots[SLOT_dataFilePath] = reinterpret_cast<void*>(&clockDataFilePath);
  slots[SLOT_warehouseFilePath] = reinterpret_cast<void*>(&clockWarehouseFilePath);
  slots[SLOT_showMessage] = reinterpret_cast<void*>(&clockShowMessage);
}

void installRecorders(void** slots, Recording* into) {
  recording = into;
  slots[SLOT_reallocMemory] = reinterpret_cast<void*>(&recordReallocMemory);
  slots[SLOT_freeMemory] = reinterpret_cast<void*>(&recordFreeMemory);
  slots[SLOT_printToFile] = reinterpret_cast<void*>(&recordPrintToFile);
  slots[SLOT_showMessageList] = reinterpret_cast<void*>(&recordShowMessageList);
}

const char* Floor::keep(const std::string& text) {
  texts_.push_back(text);
  return texts_.back().c_str();
}

bool Floor::compile(const Recording& r, int format, const fs::path& pristine,
                    const fs::path& written, std::string& error) {
  ops_.clear();
  texts_.clear();
  varArgs_.clear();
  expected_.clear();
  blocks_ = 0;
  format_ = format;
  if (!r.error.empty()) {
    error = r.error;
    return false;
  }
  const std::vector<velkar::Call>& journal = r.journal;
  size_t start = 0;
  while (start < journal.size() && journal[start].name != "openTextFile") ++start;
  if (start == journal.size()) {
    error = "the command opened no rate file";
    return false;
  }
  size_t memoryCalls = 0;
  for (const velkar::Call& c : journal)
    memoryCalls += c.name == "reallocMemory" || c.name == "freeMemory";
  if (memoryCalls != r.memory.size()) {
    error = "the recorders saw " + std::to_string(r.memory.size()) + " memory calls, the journal " +
            std::to_string(memoryCalls);
    return false;
  }

  // The products as the command found them (their names) and as it left them (the field it sets).
  std::vector<std::string> names, fields;
  {
    std::ifstream before(pristine, std::ios::binary), after(written, std::ios::binary);
    std::vector<char> a(shop::PRODUCT_RECORD_SIZE), b(shop::PRODUCT_RECORD_SIZE);
    while (before.read(a.data(), static_cast<std::streamsize>(a.size())) &&
           after.read(b.data(), static_cast<std::streamsize>(b.size()))) {
      const char* name = a.data() + NAME.offset;
      names.emplace_back(name, strnlen(name, NAME.size));
      fields.emplace_back(b.data() + NEW_VAT_CODE.offset, NEW_VAT_CODE.size);
    }
    if (names.empty()) {
      error = "no product records in " + pristine.string() + " and " + written.string();
      return false;
    }
  }

  std::map<const void*, int> live;  // block -> its number
  std::vector<bool> floorBlocks;    // blocks the floor allocates itself
  size_t memory = 0, prints = 0, lists = 0;
  int phase = PHASE_PREAMBLE, lastField = 0, pathTable = -1, cursorTable = -1, openTextFiles = 0;
  long record = -1;
  const auto fail = [&](size_t i, const std::string& why) {
    error = "call " + std::to_string(i) + ", " + describe(journal[i]) + ": " + why;
    return false;
  };
  for (size_t i = 0; i < journal.size(); ++i) {
    const velkar::Call& c = journal[i];
    const std::vector<std::string>& a = c.args;
    const bool inFloor = i >= start;
    int block = -1;
    if (c.name == "reallocMemory" || c.name == "freeMemory") {
      const auto [in, out] = r.memory[memory++];
      if (in) {
        auto it = live.find(in);
        if (it == live.end()) return fail(i, "a block the host never handed out");
        block = it->second;
        live.erase(it);
      } else if (c.name == "reallocMemory") {
        block = static_cast<int>(floorBlocks.size());
        floorBlocks.push_back(inFloor);
      }
      if (c.name == "reallocMemory" && (out || in)) live[out ? out : in] = block;
      if (inFloor && block >= 0 && !floorBlocks[static_cast<size_t>(block)])
        return fail(i, "a block from before the rate file, which the floor does not hold");
    }
    if (c.name == "printToFile" && prints++ >= r.prints.size())
      return fail(i, "more printToFile calls than recorded values");
    if (c.name == "showMessageList" && lists++ >= r.lists.size())
      return fail(i, "more showMessageList calls than recorded values");
    if (!inFloor || c.ordinal == 0) continue;

    const int next = phaseAfter(c.name, phase);
    if (next != phase) {
      phase = next;
      ops_.push_back(Op{PHASE, static_cast<uint8_t>(phase), 0, 0, 0, 0, nullptr, nullptr});
    }
    expected_.push_back(c);
    const auto number = [&](size_t k) { return static_cast<int32_t>(std::stol(a.at(k))); };
    const auto text = [&](size_t k) { return isText(a.at(k)) ? keep(textOf(a[k])) : nullptr; };
    Op op{};
    const auto args = [&](size_t n) { return a.size() == n; };
    if (c.name == "openTextFile" && args(5)) {
      if (openTextFiles++) return fail(i, "a second text file open at once");
      op = {OPEN_TEXT, 0, number(2), number(3), number(4), 0, text(0), text(1)};
    } else if (c.name == "closeTextFile" && args(1)) {
      --openTextFiles;
      op.code = CLOSE_TEXT;
    } else if (c.name == "seekFile" && args(3)) {
      op = {SEEK, 0, number(1), number(2), 0, 0, nullptr, nullptr};
    } else if (c.name == "tellFile" && args(1)) {
      op.code = TELL;
    } else if (c.name == "beginProgress" && args(1)) {
      op = {BEGIN_PROGRESS, 0, number(0), 0, 0, 0, nullptr, nullptr};
    } else if (c.name == "endProgress") {
      op.code = END_PROGRESS;
    } else if (c.name == "updateProgress" && args(2)) {
      op = {UPDATE_PROGRESS, 0, number(0), number(1), 0, 0, nullptr, nullptr};
    } else if (c.name == "progressIdle" && args(1)) {
      op = {PROGRESS_IDLE, 0, number(0), 0, 0, 0, nullptr, nullptr};
    } else if (c.name == "stopRequested") {
      op.code = STOP;
    } else if (c.name == "readLine" && args(3)) {
      op = {READ_LINE, 0, number(2), 0, 0, 0, nullptr, nullptr};
      if (op.a > static_cast<int32_t>(LINE_SIZE)) return fail(i, "a longer line than the floor's");
    } else if (c.name == "getField" && args(6)) {
      op = {GET_FIELD, 0, number(0), number(3), number(4), 0, text(5), nullptr};
      if (op.b > static_cast<int32_t>(FIELD_SIZE))
        return fail(i, "a larger field than the floor's");
      lastField = op.a;
    } else if (c.name == "copyText" && args(3) && phase == PHASE_RATE_FILE) {
      // The first field is the key, the second the CN code (format 2).
      op = {COPY_FIELD, lastField == 0 ? TO_KEY : TO_CN, number(2), 0, 0, 0, nullptr, nullptr};
      if (op.a < 0 || static_cast<size_t>(op.a) >= (op.target == TO_KEY ? KEY_SIZE : CN_SIZE))
        return fail(i, "a longer copy than the entry holds");
    } else if (c.name == "copyText" && args(3) && phase == PHASE_PRODUCTS && format == 2) {
      op = {COPY_TO_RECORD, 0, number(2), 0, 0, 0, text(1), nullptr};
      if (!op.s1 || op.a < 0 || static_cast<size_t>(op.a) >= CN_CODE.size)
        return fail(i, "a copy that is not a CN code");
    } else if (c.name == "convertCharset" && args(6) && phase == PHASE_RATE_FILE) {
      op = {CONVERT_KEY, 0, number(1), number(3), number(4), number(5), nullptr, nullptr};
      if (op.a > static_cast<int32_t>(KEY_SIZE)) return fail(i, "a larger key than an entry's");
    } else if (c.name == "reallocMemory" && args(2)) {
      op = {REALLOC, 0, block, number(1), 0, 0, nullptr, nullptr};
    } else if (c.name == "freeMemory" && args(1)) {
      op = {FREE, 0, block, 0, 0, 0, nullptr, nullptr};
    } else if (c.name == "dataFilePath" && args(4)) {
      op = {DATA_PATH, 0, number(0), number(1), number(3), 0, nullptr, nullptr};
      pathTable = EXTRA_TABLE;
    } else if (c.name == "warehouseFilePath" && args(5)) {
      op = {WAREHOUSE_PATH, 0, number(0), number(4), 0, 0, text(2), text(3)};
      pathTable = PRODUCT_TABLE;
    } else if (c.name == "openTableCursor" && args(6) && pathTable >= 0) {
      cursorTable = pathTable;
      op = {OPEN_CURSOR, static_cast<uint8_t>(cursorTable),
            number(2),   number(4),
            number(5),   0,
            nullptr,     nullptr};
    } else if ((c.name == "readNextRecord" || c.name == "closeTableCursor") && args(1) &&
               cursorTable >= 0) {
      op = {c.name == "readNextRecord" ? READ_RECORD : CLOSE_CURSOR,
            static_cast<uint8_t>(cursorTable),
            0,
            0,
            0,
            0,
            nullptr,
            nullptr};
      if (op.code == READ_RECORD && cursorTable == PRODUCT_TABLE) ++record;
    } else if (c.name == "writeCurrentRecord" && args(1) && cursorTable == PRODUCT_TABLE &&
               record >= 0 && static_cast<size_t>(record) < fields.size()) {
      // Formats 0 and 1 set the new VAT code, as the command left it; format 2's CN code is in
      // the record already, copied by the host's copyText.
      op = {WRITE_RECORD, PRODUCT_TABLE, 0, 0, 0, 0, nullptr, nullptr};
      if (format != 2) {
        op.a = static_cast<int32_t>(NEW_VAT_CODE.offset);
        op.b = static_cast<int32_t>(NEW_VAT_CODE.size);
        op.s1 = keep(fields[static_cast<size_t>(record)]);
      }
    } else if (c.name == "normaliseText" && args(1) && isText(a[0])) {
      const std::string t = textOf(a[0]);
      if (t.size() >= WORK_SIZE) return fail(i, "a longer text than the module normalises");
      // A product's name is taken from the record, like the module does; the keys as recorded.
      const bool name = phase == PHASE_PRODUCTS && format == 1 && record >= 0 &&
                        static_cast<size_t>(record) < names.size() &&
                        names[static_cast<size_t>(record)] == t;
      op = {
          name ? NORMALISE_NAME : NORMALISE_TEXT, 0, 0, 0, 0, 0, name ? nullptr : keep(t), nullptr};
    } else if (c.name == "showMessage" && args(3)) {
      op = {SHOW_MESSAGE, 0, number(2), 0, 0, 0, text(0), text(1)};
    } else if (c.name == "printToFile" && args(2) && isText(a[1])) {
      varArgs_.push_back(r.prints[prints - 1]);
      op = {PRINT, 0, static_cast<int32_t>(varArgs_.size() - 1), 0, 0, 0, text(1), nullptr};
    } else if (c.name == "closeWaitMessage") {
      op.code = CLOSE_WAIT;
    } else if (c.name == "showMessageList" && args(5)) {
      varArgs_.push_back(r.lists[lists - 1]);
      op = {SHOW_LIST, 0,       number(0), number(3), static_cast<int32_t>(varArgs_.size() - 1),
            0,         text(1), text(2)};
    } else if (c.name == "showTextFile" && args(1)) {
      op = {SHOW_TEXT_FILE, 0, 0, 0, 0, 0, text(0), nullptr};
    } else {
      return fail(i, "a call the floor does not make");
    }
    ops_.push_back(op);
  }
  blocks_ = static_cast<int>(floorBlocks.size());
  return true;
}

struct Floor::State {
  char line[LINE_SIZE];
  char field[FIELD_SIZE];
  char key[KEY_SIZE];
  char cn[CN_SIZE];
  char work[WORK_SIZE];
  char path[PATH_SIZE];
  unsigned char cursors[TABLES][CURSOR_SIZE];
  TableDescriptor* tables[TABLES];
  unsigned char* buffers[TABLES];
  void* file;
  std::vector<void*> blocks;
};

namespace {

void execute(const Floor::Op* op, const Floor::Op* end, Floor::State& s,
             const std::vector<std::vector<VarArg>>& values, PhaseTimes& times) {
  for (; op != end; ++op) {
    switch (op->code) {
      case PHASE:
        times.begin[op->target] = now();
        times.seen[op->target] = true;
        break;
      case OPEN_TEXT:
        s.file = fn::openTextFile(op->s1, op->s2, op->a, op->b, op->c);
        break;
      case CLOSE_TEXT:
        fn::closeTextFile(s.file);
        s.file = nullptr;
        break;
      case SEEK:
        fn::seekFile(s.file, op->a, op->b);
        break;
      case TELL:
        fn::tellFile(s.file);
        break;
      case BEGIN_PROGRESS:
        fn::beginProgress(op->a);
        break;
      case END_PROGRESS:
        fn::endProgress();
        break;
      case UPDATE_PROGRESS:
        fn::updateProgress(op->a, op->b);
        break;
      case PROGRESS_IDLE:
        fn::progressIdle(op->a);
        break;
      case STOP:
        fn::stopRequested();
        break;
      case READ_LINE:
        fn::readLine(s.file, s.line, op->a);
        s.line[LINE_SIZE - 1] = 0;
        break;
      case GET_FIELD:
        fn::getField(op->a, s.line, s.field, op->b, op->c, op->s1);
        break;
      case COPY_FIELD:
        fn::copyText(op->target == TO_KEY ? s.key : s.cn, s.field, op->a);
        break;
      case CONVERT_KEY:
        fn::convertCharset(s.key, op->a, s.key, op->b, op->c, op->d);
        break;
      case REALLOC:
        if (void* block = fn::reallocMemory(s.blocks[static_cast<size_t>(op->a)], op->b))
          s.blocks[static_cast<size_t>(op->a)] = block;
        break;
      case FREE:
        fn::freeMemory(op->a < 0 ? nullptr : s.blocks[static_cast<size_t>(op->a)]);
        if (op->a >= 0) s.blocks[static_cast<size_t>(op->a)] = nullptr;
        break;
      case DATA_PATH:
        fn::dataFilePath(op->a, op->b, s.path, op->c);
        break;
      case WAREHOUSE_PATH:
        fn::warehouseFilePath(op->a, s.path, op->s1, op->s2, op->b);
        break;
      case OPEN_CURSOR:
        fn::openTableCursor(s.cursors[op->target], s.tables[op->target], op->a, s.path, op->b,
                            op->c);
        break;
      case READ_RECORD:
        fn::readNextRecord(s.cursors[op->target]);
        break;
      case CLOSE_CURSOR:
        fn::closeTableCursor(s.cursors[op->target]);
        break;
      case COPY_TO_RECORD:
        fn::copyText(reinterpret_cast<char*>(s.buffers[PRODUCT_TABLE] + CN_CODE.offset), op->s1,
                     op->a);
        break;
      case NORMALISE_TEXT:
        std::strcpy(s.work, op->s1);
        fn::normaliseText(s.work);
        break;
      case NORMALISE_NAME: {
        const char* name = reinterpret_cast<const char*>(s.buffers[PRODUCT_TABLE] + NAME.offset);
        const size_t length = strnlen(name, NAME.size);
        std::memcpy(s.work, name, length);
        s.work[length] = 0;
        fn::normaliseText(s.work);
        break;
      }
      case WRITE_RECORD:
        if (op->b) std::memcpy(s.buffers[op->target] + op->a, op->s1, static_cast<size_t>(op->b));
        fn::writeCurrentRecord(s.cursors[op->target]);
        break;
      case SHOW_MESSAGE:
        fn::showMessage(op->s1, op->s2, op->a);
        break;
      case PRINT:
        callWith([&](auto... v) { return fn::printToFile(s.file, op->s1, v...); },
                 values[static_cast<size_t>(op->a)]);
        break;
      case CLOSE_WAIT:
        fn::closeWaitMessage();
        break;
      case SHOW_LIST:
        callWith([&](auto... v) { return showMessageListOf(op->a, op->s1, op->s2, op->b, v...); },
                 values[static_cast<size_t>(op->c)]);
        break;
      case SHOW_TEXT_FILE:
        fn::showTextFile(op->s1);
        break;
    }
  }
}

// The record buffer a table descriptor names (a 32-bit pointer at byte 8).
unsigned char* recordBuffer(const TableDescriptor* table) {
  uint32_t address = 0;
  if (table) std::memcpy(&address, reinterpret_cast<const unsigned char*>(table) + 8, 4);
  return reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(address));
}

}  // namespace

bool Floor::run(bool check, PhaseTimes& times, std::string& error) {
  // What the module holds before the command: its table descriptors, taken at start.
  State s{};
  s.tables[EXTRA_TABLE] = fn::getTableDescriptor(shop::EXTRA_CODE_TABLE);
  s.tables[PRODUCT_TABLE] = fn::getTableDescriptor(shop::PRODUCT_TABLE);
  for (int t = 0; t < TABLES; ++t) s.buffers[t] = recordBuffer(s.tables[t]);
  if (!s.buffers[EXTRA_TABLE] || !s.buffers[PRODUCT_TABLE]) {
    error = "the host has no table descriptors";
    return false;
  }
  s.blocks.assign(static_cast<size_t>(blocks_), nullptr);
  times = PhaseTimes{};
  velkar::Host& h = velkar::host();
  if (!check) {
    execute(ops_.data(), ops_.data() + ops_.size(), s, varArgs_, times);
    times.begin[PHASES] = now();
    return true;
  }

  // Checked a stretch at a time, so that the two journals need not both be held whole.
  h.journal.clear();
  constexpr size_t STRETCH = 8192;
  size_t compared = 0;
  for (size_t at = 0; at < ops_.size(); at += STRETCH) {
    const Op* begin = ops_.data() + at;
    execute(begin, begin + std::min(STRETCH, ops_.size() - at), s, varArgs_, times);
    for (const velkar::Call& made : h.journal) {
      if (compared >= expected_.size()) {
        error = "the floor made more calls than the command: " + describe(made);
        return false;
      }
      const velkar::Call& wanted = expected_[compared];
      if (!sameCall(made, wanted)) {
        error = "host call " + std::to_string(compared) +
                " of the floor differs: the command made " + describe(wanted) + ", the floor " +
                describe(made);
        return false;
      }
      ++compared;
    }
    h.journal.clear();
  }
  times.begin[PHASES] = now();
  if (compared != expected_.size()) {
    error = "the floor made " + std::to_string(compared) + " calls, the command " +
            std::to_string(expected_.size());
    return false;
  }
  return true;
}

}  // namespace bench
