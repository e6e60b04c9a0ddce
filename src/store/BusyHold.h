#pragma once

#include <QPointer>

class AppStore;

// Keeps the store busy from its making until it is released or goes, whichever way the action that
// holds it ends. Actions overlap: the store is busy while any of them holds one, so the end of one
// never takes the busy sign from another still under way.
class BusyHold {
public:
    BusyHold() = default;
    explicit BusyHold(AppStore* store);
    BusyHold(BusyHold&& other) noexcept;
    BusyHold& operator=(BusyHold&& other) noexcept;
    BusyHold(const BusyHold&) = delete;
    BusyHold& operator=(const BusyHold&) = delete;
    ~BusyHold();
    void release();

private:
    QPointer<AppStore> m_store;
};
