#include "assertion.h"

#include <QtGlobal>

void reportAssertion(const char *condition, const char *file, int line)
{
    qDebug("Assertion '%s' failed. File=%s Line=%d", condition ? condition : "", file ? file : "", line);
}
