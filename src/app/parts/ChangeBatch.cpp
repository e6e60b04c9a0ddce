#include "app/parts/ChangeBatch.h"

ChangeBatch::ChangeBatch(QObject* owner, std::function<void()> apply)
    : QObject(owner), m_apply(std::move(apply))
{
}

void ChangeBatch::schedule()
{
    if (m_pending)
        return;
    m_pending = true;
    QMetaObject::invokeMethod(this, &ChangeBatch::flush, Qt::QueuedConnection);
}

void ChangeBatch::flush()
{
    if (!m_pending)
        return;
    m_pending = false;
    m_apply();
}
