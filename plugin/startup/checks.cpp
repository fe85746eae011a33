// Compatibility checks and start-up diagnostics: the record sizes of the two host tables the
// module works on, the version chain (build dates, the host's own check, the interface level,
// the table sizes) and the one message that explains a failed start.
#include "startup/startup.h"

#include "common/mazovia.h"
#include "host/attach.h"
#include "host/binding.h"
#include "host/calls.h"
#include "identity/identity.h"

TableDescriptor* productTable = nullptr;
TableDescriptor* extraCodeTable = nullptr;

// ---------------------------------------------------------------------------------------------
// missingFeatures
//
// One bit per host function that may stand in as a fallback (the ones whose ordinal gives a
// fallback after Ignore in the missing-entry dialog), numbered in table order:
//   bit 0  52224 hostSettings          bit 5  52156 normaliseText
//   bit 1  52028 showMessage           bit 6  52228 beginProgress
//   bit 2  35804 showMessageList       bit 7  52232 updateProgress
//   bit 3  52040 exchangeDialogData    bit 8  52536 readLine
//   bit 4  52256 getTableDescriptor
// A set bit: the host lacks that function and its fallback (which returns 0) stands in. Every
// other host function is vital: without it the library does not load at all. 0 = the host has
// every function the module needs; 0xFFFFFFFF = not known yet (the binding has not completed).
// ---------------------------------------------------------------------------------------------

uint32_t missingFeatures = 0xFFFFFFFFu;

// True when the missing-entry dialog can give this ordinal a fallback: its last two decimal
// digits are 99, or a multiple of 4 up to 56.
static constexpr bool ordinalHasFallback(unsigned ordinal) {
  const unsigned n = ordinal % 100;
  return n == 99 || (n % 4 == 0 && n <= 56);
}

static constexpr int fallbackCapableCount() {
  int count = 0;
#define VELKAR_COUNT_FALLBACK(place, ordinal, name, CONV, Ret, params) \
  count += ordinalHasFallback(ordinal) ? 1 : 0;
  VELKAR_HOST_FUNCTIONS(VELKAR_COUNT_FALLBACK)
#undef VELKAR_COUNT_FALLBACK
  return count;
}
static_assert(fallbackCapableCount() == 9, "the bits listed above");
static_assert(fallbackCapableCount() <= 32, "one bit each in a 32-bit word");

void completeStartup() {
  uint32_t missing = 0;
  int bit = 0;
  for (int i = 0; i < HOST_FUNCTION_COUNT; ++i) {
    if (!ordinalHasFallback(hostOrdinalAt(i))) continue;
    if (slotOnFallback(i)) missing |= 1u << bit;
    ++bit;
  }
  missingFeatures = missing;
}

// ---------------------------------------------------------------------------------------------
// Record sizes.
// ---------------------------------------------------------------------------------------------

// A table the host has, whose record size is not the expected one and whose layout value does
// not make up for it.
static bool tableUnfit(const TableDescriptor* table, int expectedSize, unsigned acceptedLayout) {
  return table && tableRecordSize(table) != expectedSize && tableLayout(table) != acceptedLayout;
}

bool tablesRefused = false;

void showNewerModuleNeeded() {
  host::showText(MZ("Potrzebna nowsza wtyczka!"));
}

int checkRecordSizes() {
  productTable = host::getTableDescriptor(PRODUCT_TABLE);
  tablesRefused = tableUnfit(productTable, PRODUCT_RECORD_SIZE, PRODUCT_ACCEPTED_LAYOUT);
  if (!tablesRefused) {
    extraCodeTable = host::getTableDescriptor(EXTRA_CODE_TABLE);
    tablesRefused = tableUnfit(extraCodeTable, EXTRA_CODE_RECORD_SIZE, EXTRA_CODE_ACCEPTED_LAYOUT);
  }
  if (tablesRefused) {
    showNewerModuleNeeded();
    return -1;
  }
  return 0;
}

// The mismatch list: built once, by the first registerTableSizes.
static TableSizeRecord productSizes;
static TableSizeRecord extraCodeSizes;
static TableSizeRecord* mismatchList = nullptr;
static int32_t mismatchCount = -1;

void addTableSizeRecord(TableSizeRecord* record) {
  if (record->expectedSize == record->hostSize) return;
  TableSizeRecord** tail = &mismatchList;
  for (; *tail; tail = &(*tail)->next)
    if (*tail == record) return;
  record->next = nullptr;
  *tail = record;
}

static void registerTable(TableSizeRecord* record, int table, int expectedSize, const char* name) {
  const TableDescriptor* descriptor = host::getTableDescriptor(table);
  record->expectedSize = expectedSize;
  record->hostSize = descriptor ? tableRecordSize(descriptor) : 0;
  record->name = name;
  record->next = nullptr;
  addTableSizeRecord(record);
}

int registerTableSizes() {
  if (mismatchCount != -1) return mismatchCount;
  registerTable(&productSizes, PRODUCT_TABLE, PRODUCT_RECORD_SIZE, "k9");
  registerTable(&extraCodeSizes, EXTRA_CODE_TABLE, EXTRA_CODE_RECORD_SIZE, "Kody");
  int32_t count = 0;
  for (const TableSizeRecord* r = mismatchList; r; r = r->next) ++count;
  mismatchCount = count;
  return count;
}

int reportTableSizes(char* buffer) {
  buffer[0] = 0;
  if (!mismatchList) return 0;
  char* out = buffer;
  out += wsprintfA(out,
                   MZ("Rozmiary rekordów niektórych tabel nie zgadzają się\n"
                      "między programem a wtyczką '%s' (moduł '%s'):\n\n"
                      "\x01tl18l33\x01TABELA\tWE WTYCZCE\tW PROGRAMIE\n"),
                   moduleTitle(), moduleFileNameText());
  for (const TableSizeRecord* r = mismatchList; r; r = r->next) {
    out += wsprintfA(out, "\x01tp25p40\x01%s\t%d\t", r->name, static_cast<int>(r->expectedSize));
    if (r->hostSize == 0)
      out += wsprintfA(out, "brak\n");
    else
      out += wsprintfA(out, "%d\n", static_cast<int>(r->hostSize));
  }
  wsprintfA(out, MZ("\nModuł \x02%s\x01\nNIE zostanie załadowany!"), moduleFileNameText());
  return -1;
}

// ---------------------------------------------------------------------------------------------
// Version chain.
// ---------------------------------------------------------------------------------------------

static int dateDay(uint32_t date) {
  return static_cast<int>(date & 0xFF);
}
static int dateMonth(uint32_t date) {
  return static_cast<int>((date >> 8) & 0xFF);
}
static int dateYear(uint32_t date) {
  return static_cast<int>(date >> 16);
}

int compareBuildDates(uint32_t hostDate, uint32_t moduleDate, int mode, char* buffer) {
  if (buffer) buffer[0] = 0;
  if (moduleDate == FORBIDDEN_MODULE_DATE) {
    if (buffer)
      wsprintfA(buffer, MZ("Ładowanie tej wersji modułu '%s'\njest zabronione!"),
                moduleFileNameText());
    return -1;
  }
  if (mode == 0 ? hostDate >= moduleDate : hostDate == moduleDate) return 0;
  if (buffer)
    wsprintfA(buffer,
              MZ("Moduł '%s' pochodzi z dnia %02d.%02d.%04d r.\a program z dnia %02d.%02d.%04d "
                 "r.\nJest zatem nowszy niż program, dlatego nie zostanie załadowany!"),
              moduleFileNameText(), dateDay(moduleDate), dateMonth(moduleDate),
              dateYear(moduleDate), dateDay(hostDate), dateMonth(hostDate), dateYear(hostDate));
  return -1;
}

int checkVersion() {
  const uint32_t moduleDate = host::buildDate(MODULE_BUILD_DATE_TEXT);
  const uint32_t hostDate = host::buildDate(nullptr);
  if (compareBuildDates(hostDate, moduleDate, 0, nullptr) != 0) return -1;
  if (host::checkModule(moduleIdentity.ownModule, nullptr, 0) != 0) return -1;
  if (host::interfaceLevel() != REQUIRED_INTERFACE_LEVEL) return -1;
  if (registerTableSizes() != 0) return -1;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// The start-up failure message.
// ---------------------------------------------------------------------------------------------

static void showStop(const char* text) {
  host::showFormattedCoded(STOP_MESSAGE_CODE, MZ("STOP!!!"), "%s", STOP_MESSAGE_FLAGS,
                           STOP_MESSAGE_TAG, text);
}

void showStartupFailure() {
  static char message[DIAGNOSTIC_TEXT_SIZE];

  // A host without ordinal 30006 that has not handed a callback to entry 30001 yet has nothing
  // to be told.
  if (hostAttachment.hostCallback) hostAttachment.hostCallback(1, -1);
  message[0] = 0;

  if (missingFeatures != 0) {
    wsprintfA(message,
              MZ("Program nie obsługuje cech 0x%08X,\nktóre są niezbędne dla modułu '%s'."),
              missingFeatures, moduleTitle());
    showStop(message);
    return;
  }
  if (reportTableSizes(message) != 0) {
    showStop(message);
    return;
  }
  if (host::checkModule(moduleIdentity.ownModule, message, DIAGNOSTIC_TEXT_SIZE) != 0) {
    message[DIAGNOSTIC_TEXT_SIZE - 1] = 0;  // whatever the host wrote, the text ends here
    showStop(message);
    return;
  }
  if (checkVersion() != 0) {
    host::showFormattedCoded(STOP_MESSAGE_CODE, MZ("STOP!!!"),
                             MZ("Moduł \"%s\" i program występują w różnych wersjach!\n\n"
                                "Został zakualizowany tylko program albo tylko moduł,\n"
                                "a nie oba jednocześnie! Aby naprawić tę sytuację\n"
                                "zainstaluj aktualizację programu wraz z modułem \"%s\".\n\n"
                                "MODUŁ NIE ZOSTANIE ZAŁADOWANY!!!\n"),
                             STOP_MESSAGE_FLAGS, STOP_MESSAGE_TAG, moduleFileNameText(),
                             moduleFileNameText());
    return;
  }
  host::showFormatted(MZ("STOP!!!"),
                      MZ("Moduł \"%s\" nie został poprawnie zainicjowany,\n"
                         "więc NIE BĘDZIE AKTYWNY!"),
                      STOP_MESSAGE_FLAGS, STOP_MESSAGE_TAG, moduleFileNameText());
}
