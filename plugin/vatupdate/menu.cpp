// PLACEHOLDER
#include "vatupdate/menu.h"

int registerMenuOption() {
  return 0;
}
