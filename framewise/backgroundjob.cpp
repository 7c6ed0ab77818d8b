#include "backgroundjob.h"

BackgroundJob::BackgroundJob(Work work, QObject *parent)
    : QThread(parent)
    , m_Work(std::move(work))
{
}

BackgroundJob::~BackgroundJob()
{
    cancel();
    wait();
}

void BackgroundJob::run()
{
    m_Work(*this);
}
