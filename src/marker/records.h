#pragma once

// The records are public (the client library hands them out), so they live with the installed
// headers; the product's own code knows them by this name.

#include <system_state_watchdog/records.h>
