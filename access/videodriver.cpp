#include "videodriver.h"

qint64 VideoDriver::totalSize(qint64 handle)
{
    return size(handle);
}

qint64 VideoDriver::sourceState(qint64 /*handle*/)
{
    return 1;
}
