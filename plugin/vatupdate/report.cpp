// The change report: one line per reported entry, in the order of the rate file, then a summary.
#include "vatupdate/report.h"

#include "host/calls.h"
#include "common/mazovia.h"
#include "host/codes.h"
#include "host/messages.h"
#include "vatupdate/run.h"

namespace {

struct ReportCounts {
  int32_t read;
  int32_t invalid;
  int32_t unidentified;
  int32_t sameRate;
  int32_t newRate;
};

#define RATE_LINE_FORMAT "%s -> %d zmiany: %d, brak zmian: %d\n"

void writeRateLine(void* file, const RateEntry& entry) {
  host::printToFile(file, MZ(RATE_LINE_FORMAT), entry.key, entry.rate.get(),
                    entry.changedCount.get(), entry.unchangedCount.get());
}

}  // namespace

void writeChangeReport() {
  host::showMessage(MZ("uwaga"), MZ("Proszę czekać. Tworzenie raportu."), MESSAGE_WAIT);
  ReportCounts counts = {0, 0, 0, 0, 0};
  void* file =
      host::openTextFile(MZ(REPORT_FILE_NAME), MZ("wt"), TEXT_FILE_SHARE, 0, TEXT_FILE_WAIT);

  const RateList& rateList = commandRun.rates;
  for (int32_t i = 0; i < rateList.count; ++i) {
    if (host::stopRequested()) break;
    const RateEntry& entry = rateList.entries[i];
    ++counts.read;
    switch (entry.status.get()) {
      case RATE_UNMATCHED:
        ++counts.unidentified;
        break;
      case RATE_CHANGED:
        ++counts.newRate;
        if (file) writeRateLine(file, entry);
        break;
      case RATE_UNCHANGED:
        if (file) writeRateLine(file, entry);
        ++counts.sameRate;
        break;
      case RATE_INVALID:
        if (file) host::printToFile(file, MZ("%s niepoprawny kod\n"), entry.key);
        ++counts.invalid;
        break;
      default:
        break;
    }
  }

  host::closeWaitMessage();
  if (file) host::closeTextFile(file);
  releaseCommandRun();

  showFormattedMessage(
      MZ("uwaga"),
      MZ("\x01tp50\x01Ilość towarów odczytana z pliku:\t\x02%d\nIlość niepoprawnych "
         "towarów:\t\x02%d\nIlość niezidentyfikowanych towarów:\t\x02%d\n\nNie zmieniono bo ta "
         "sama stawka VAT:\t\x02%d\nTowary, którym ustalono nową stawkę VAT:\t\x02%d\n\n\x02UWAGA:"
         "\n\nTeraz należy wejść do każdego magazynu i użyć opcji \x02"
         "Ctrl-K\x01\n(należy to wykonać w przeddzień zmiany stawek VAT)"),
      MESSAGE_NOTICE, counts.read, counts.invalid, counts.unidentified, counts.sameRate,
      counts.newRate);
  host::showTextFile(MZ(REPORT_FILE_NAME));
}
