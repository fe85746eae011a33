// The command's place in the host's menu.
#pragma once

// Adds the command to the host's "Inne" menu once, remembered in the setting "Pytaj".
int registerMenuOption();
