// The VAT update command: explanation, import dialog, warehouse choice, saved settings, then
// reading, matching, applying and the report.
#include "vatupdate/command.h"

#include <stdio.h>
#include <string.h>

#include "host/calls.h"
#include "host/codes.h"
#include "host/settings.h"
#include "common/mazovia.h"
#include "startup/startup.h"
#include "vatupdate/dialog_description.h"
#include "vatupdate/extracodes.h"
#include "vatupdate/matching.h"
#include "vatupdate/ratefile.h"
#include "vatupdate/records.h"
#include "vatupdate/report.h"
#include "vatupdate/run.h"

namespace {

#define DEFAULT_RATE_FILE "Nowe_stawki_VAT.csv"

// Fills the data block from the settings; the warehouse number from "Mag" (0 when unread).
void loadSettings(int32_t* warehouse) {
  memset(&commandRun.choices, 0, sizeof commandRun.choices);
  if (static_cast<uint16_t>(accessSetting(SETTING_READ_TEXT, MZ(SETTINGS_SECTION), MZ("Path"),
                                          MZ("%128s"), commandRun.choices.fileName)) != 0) {
    memcpy(commandRun.choices.fileName, MZ(DEFAULT_RATE_FILE), MZ_SIZE(DEFAULT_RATE_FILE));
  }
  commandRun.choices.fileName[FILE_NAME_SIZE - 1] = 0;

  int32_t format = commandRun.choices.format.get();
  accessSetting(SETTING_READ_TEXT, MZ(SETTINGS_SECTION), MZ("Opcje"), MZ("%d"), &format);
  commandRun.choices.format.set(static_cast<int16_t>(format));

  accessSetting(SETTING_READ, MZ(SETTINGS_SECTION), MZ("Mag"), MZ("%d"), warehouse);
}

// Runs the dialog until the user accepts or abandons it; true when accepted.
bool runImportDialog() {
  for (;;) {
    const int16_t result = static_cast<int16_t>(
        host::runDialog(&importDialogDescription, 1, &commandRun.choices, &importDialogKeys, 0));
    if (result == static_cast<int16_t>(DIALOG_CANCEL)) return false;
    if (result == static_cast<int16_t>(DIALOG_OK)) return true;
  }
}

}  // namespace

HOST_STDCALL int importDialogKeys(unsigned short key, unsigned short item) {
  if (item != FILE_NAME_ITEM || key != KEY_F3) return 0;
  host::exchangeDialogData(&commandRun.choices, 1);
  commandRun.choices.fileName[FILE_NAME_SIZE - 1] = 0;
  char mask[sizeof "c:\\*.*"];
  memcpy(mask, "c:\\*.*", sizeof mask);
  if (host::chooseFile(FILE_CHOOSER_KIND, commandRun.choices.fileName, mask, 1) != -1) {
    commandRun.choices.fileName[FILE_NAME_SIZE - 1] = 0;
    host::exchangeDialogData(&commandRun.choices, 0);
    host::notifyDialogItem(FILE_NAME_ITEM_ID);
  }
  return -2;
}

void vatUpdateCommand(void) {
  // The host may offer the command after the start refused its tables (the refusal does not
  // withdraw it). Their records are then of a layout the module does not know: it says so again
  // and ends before it touches anything, the previous report included.
  if (tablesRefused) {
    showNewerModuleNeeded();
    return;
  }
  remove(MZ(REPORT_FILE_NAME));

  const int answer = host::showMessage(
      MZ("uwaga"),
      MZ("Opcja umożliwia wczytanie nowych stawek VAT z pliku tekstowego.\n\nPlik musi być w "
         "formacie:\n\x02KOD_KRESKOWY,STAWKA_VAT\n\nProgram po wczytaniu danych z pliku wpisze je "
         "do pola 'nowa stawka VAT'.\nStawki nie zostana jednak zmieniona do chwili uruchomienia "
         "specjalnej opcji w przeddzień zmiany stawek VAT. Należy to wykonać później specjalną "
         "opcją w każdym magazynie - klawisz \x02"
         "Ctrl-K"),
      MESSAGE_EXPLANATION);
  if (static_cast<uint16_t>(answer) != DIALOG_OK) return;

  // The run begins: its choices and warehouse from the settings. From here on every way out
  // releases it (the report does so before its summary).
  CommandRun& run = commandRun;
  run.warehouse = 0;
  loadSettings(&run.warehouse);
  if (!runImportDialog()) {
    releaseCommandRun();
    return;
  }
  run.choices.fileName[FILE_NAME_SIZE - 1] = 0;

  run.warehouse = host::chooseWarehouse(run.warehouse, WAREHOUSE_CHOOSER_KIND, 0);
  if (run.warehouse >= 0)
    accessSetting(SETTING_WRITE, MZ(SETTINGS_SECTION), MZ("Mag"), MZ("%d"), run.warehouse);
  accessSetting(SETTING_WRITE_TEXT, MZ(SETTINGS_SECTION), MZ("Path"), MZ("%s"),
                run.choices.fileName);
  accessSetting(SETTING_WRITE_TEXT, MZ(SETTINGS_SECTION), MZ("Opcje"), MZ("%d"),
                static_cast<int32_t>(run.choices.format.get()));

  // -1: the file could not be opened; 1: memory ran out while reading (the user has been told).
  if (readRateFile(run.choices.fileName, run.choices.format.get()) != 0) {
    releaseCommandRun();
    return;
  }
  buildExtraCodeIndex(run.warehouse);
  applyRates(run.warehouse);
  writeChangeReport();
}
