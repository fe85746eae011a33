#include "vatupdate/run.h"

#include "vatupdate/extracodes.h"
#include "vatupdate/ratefile.h"

CommandRun commandRun;

void releaseCommandRun() {
  releaseRateList();
  releaseExtraCodeIndex();
  endProductLookup(commandRun.lookup);
}
