#include "history/backgroundwork.h"

namespace vorlan {

BackgroundWork::~BackgroundWork()
{
    stop();
}

void BackgroundWork::start(Work work)
{
    stop();
    m_cancel = false;
    m_thread = std::thread([this, work = std::move(work)] { work(m_cancel); });
}

void BackgroundWork::stop()
{
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace vorlan
