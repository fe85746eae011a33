// The rate file: a comma-separated text file in the Windows code page, read through the host's
// text-file functions into the rate list.
#include "vatupdate/ratefile.h"

#include <string.h>

#include "host/calls.h"
#include "common/mazovia.h"
#include "host/codes.h"
#include "host/memory.h"
#include "vatupdate/run.h"

namespace {

enum { LINE_SIZE = 256, FIELD_SIZE = 256 };

bool isDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value of the leading run of decimal digits; saturates instead of overflowing.
int32_t leadingNumber(const char* text) {
  int32_t value = 0;
  for (; isDecimalDigit(*text); ++text) {
    const int digit = *text - '0';
    if (value > (INT32_MAX - digit) / 10) return INT32_MAX;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

void showOutOfMemory() {
  host::showMessage(MZ("uwaga"), MZ("Za mało pamięci"), MESSAGE_NOTICE);
}

int appendRate(const RateEntry* entry) {
  RateList& rateList = commandRun.rates;
  if (rateList.capacity <= rateList.count && !growList(rateList.entries, rateList.capacity)) {
    showOutOfMemory();
    return 1;
  }
  memcpy(&rateList.entries[rateList.count], entry, sizeof(RateEntry));
  ++rateList.count;
  return 0;
}

void releaseRateList() {
  RateList& rateList = commandRun.rates;
  if (rateList.entries) host::freeMemory(rateList.entries);
  rateList = RateList{nullptr, 0, 0};
}

bool parseRateLine(const char* line, int format, RateEntry* entry) {
  char field[FIELD_SIZE];
  memset(entry, 0, sizeof(RateEntry));

  if (host::getField(0, line, field, FIELD_SIZE, FIELD_SIZE, ",") < 0) return false;
  field[FIELD_SIZE - 1] = 0;
  host::copyText(entry->key, field, RATE_KEY_CHARS);
  entry->key[RATE_KEY_CHARS] = 0;
  if (entry->key[0] == 0) return false;
  host::convertCharset(entry->key, RATE_KEY_SIZE, entry->key, -1, CHARSET_WINDOWS, CHARSET_HOST);
  entry->key[RATE_KEY_CHARS] = 0;

  if (host::getField(1, line, field, FIELD_SIZE, FIELD_SIZE, ",") < 0) return false;
  field[FIELD_SIZE - 1] = 0;
  if (format == FORMAT_BARCODE_CN) {
    host::copyText(entry->cnCode, field, CN_CODE_CHARS);
    entry->cnCode[CN_CODE_CHARS] = 0;
    return true;
  }
  if (field[0] == 'z' || field[0] == 'Z') {
    entry->rate.set(RATE_EXEMPT);
  } else if (isDecimalDigit(field[0])) {
    entry->rate.set(leadingNumber(field));
  } else {
    return false;
  }
  return true;
}

int readRateFile(const char* fileName, int format) {
  void* file = host::openTextFile(fileName, "rt", TEXT_FILE_SHARE, 0, TEXT_FILE_WAIT);
  if (!file) return -1;

  host::seekFile(file, 0, 2);
  const int total = host::tellFile(file);
  host::seekFile(file, 0, 0);

  host::beginProgress(PROGRESS_KIND);
  host::updateProgress(0, total);
  host::progressIdle(0);

  int result = 0;
  char line[LINE_SIZE];
  while (!host::stopRequested()) {
    if (host::readLine(file, line, LINE_SIZE) == 0) break;
    line[LINE_SIZE - 1] = 0;
    RateEntry entry;
    if (parseRateLine(line, format, &entry) && appendRate(&entry) != 0) {
      result = 1;
      break;
    }
    host::updateProgress(host::tellFile(file), total);
    host::progressIdle(0);
  }

  host::closeTextFile(file);
  host::endProgress();
  return result;
}
