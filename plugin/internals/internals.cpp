// The table of the module's internals for the native tests and benchmark (internals.h). Each
// entry is taken from the declaring header, so the compiler checks it against the table's type.
#ifdef _WIN32
#error "the internals table is for the native build only; the DLL must not hold it"
#endif

#include "internals/internals.h"

#include "entry/entries.h"
#include "host/attach.h"
#include "host/binding.h"
#include "host/messages.h"
#include "host/settings.h"
#include "identity/identity.h"
#include "lookup/hooks.h"
#include "lookup/scan.h"
#include "startup/startup.h"
#include "vatupdate/command.h"
#include "vatupdate/dialog_description.h"
#include "vatupdate/extracodes.h"
#include "vatupdate/matching.h"
#include "vatupdate/ratefile.h"
#include "vatupdate/records.h"
#include "vatupdate/report.h"
#include "vatupdate/run.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

static_assert(sizeof(ModuleInternals) == MODULE_INTERNALS_COUNT * sizeof(void*),
              "the table holds pointers only");

namespace {

constinit const ModuleInternals internalsTable = {
    // identity/
    .moduleIdentity = &moduleIdentity,
    .recordModuleName = &recordModuleName,
    .findLastChar = &findLastChar,

    // host/
    .hostAttachment = &hostAttachment,
    .attachHost = &attachHost,
    .hostSlots = hostSlots,
    .ignoreAllMissing = &ignoreAllMissing,
    .fallbackStubs = fallbackStubs,
    .chooseFallback = &chooseFallback,
    .typedFallbackAt = &typedFallbackAt,
    .accessSetting = &accessSetting,
    .showFormattedMessage = &showFormattedMessage,

    // startup/
    .missingFeatures = &missingFeatures,
    .productTable = &productTable,
    .extraCodeTable = &extraCodeTable,
    .checkRecordSizes = &checkRecordSizes,
    .checkVersion = &checkVersion,
    .showStartupFailure = &showStartupFailure,
    .compareBuildDates = &compareBuildDates,
    .registerTableSizes = &registerTableSizes,
    .reportTableSizes = &reportTableSizes,

    // vatupdate/: the import dialog
    .importDialogDescription = &importDialogDescription,
    .importDialogKeys = &importDialogKeys,

    // vatupdate/: a run of the command, the rate list and the lookups
    .commandRun = &commandRun,
    .releaseCommandRun = &releaseCommandRun,
    .matchingControl = &vatMatchingControl,
    .readRateFile = &readRateFile,
    .appendRate = &appendRate,
    .releaseRateList = &releaseRateList,
    .buildExtraCodeIndex = &buildExtraCodeIndex,
    .releaseExtraCodeIndex = &releaseExtraCodeIndex,
    .applyRates = &applyRates,
    .scanRatesByCode = &scanRatesByCode,
    .scanRatesByName = &scanRatesByName,
    .writeChangeReport = &writeChangeReport,
    .vatUpdateCommand = &vatUpdateCommand,

    // entry/
    .commandRecord = &commandRecord,
    .dllMain = &DllMain,
};

}  // namespace

extern "C" const ModuleInternals* velkarModuleInternals(void) {
  return &internalsTable;
}
