// Resource identifiers, shared by the resource script and the code.
#pragma once

#define IDI_PINDRAL 107  // the executable's icon in the shell
#define IDI_SMALL   108
#define IDD_STATUS  129  // the status dialog
