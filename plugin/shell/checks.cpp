// PLACEHOLDER: compatibility checks, replaced by the real implementation.
#include "shell/startup.h"

uint32_t missingFeatures = 0xFFFFFFFFu;
TableDescriptor* productTable = nullptr;
TableDescriptor* extraCodeTable = nullptr;

void completeStartup() {}
int checkRecordSizes() {
  return 0;
}
int checkVersion() {
  return 0;
}
void showStartupFailure() {}
