#pragma once

// Reports a failed internal consistency check on Qt's debug output as
// "Assertion '<condition>' failed. File=<file> Line=<line>" and lets execution carry on: these
// checks are diagnostics, not guards.
void reportAssertion(const char *condition, const char *file, int line);

#define CHECK_ASSERT(cond)                                   \
    do {                                                     \
        if (!(cond))                                         \
            reportAssertion(#cond, __FILE__, __LINE__);      \
    } while (0)
