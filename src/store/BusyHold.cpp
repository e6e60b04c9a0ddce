#include "store/BusyHold.h"

#include "store/AppStore.h"

#include <utility>

BusyHold::BusyHold(AppStore* store) : m_store(store)
{
    const bool was = store->busy();
    ++store->m_busyHolds;
    if (!was)
        emit store->busyChanged();
}

BusyHold::BusyHold(BusyHold&& other) noexcept : m_store(std::exchange(other.m_store, nullptr))
{
}

BusyHold& BusyHold::operator=(BusyHold&& other) noexcept
{
    if (this != &other) {
        release();
        m_store = std::exchange(other.m_store, nullptr);
    }
    return *this;
}

BusyHold::~BusyHold()
{
    release();
}

void BusyHold::release()
{
    AppStore* store = std::exchange(m_store, nullptr);
    if (!store)
        return;
    --store->m_busyHolds;
    if (!store->busy())
        emit store->busyChanged();
}
