// PLACEHOLDER
#include "vatupdate/command.h"

void vatUpdateCommand(void) {}
