#pragma once

// Only does something in the AddressSanitizer build. Mesa loads its software GL driver with dlopen
// and unloads it when the last GL context goes; whatever the driver keeps for the life of the
// process then shows up in the leak report with no module to name it, so no suppression can match
// it. Loading the driver once more and for good keeps it mapped until exit, and its reports then
// carry its name (the suppression file covers it). Call it first thing in main().
void keepGlDriverResident();
