#pragma once

#include <QObject>

#include <functional>

// Runs one function once per turn of the event loop, however many of the signals it watches fired in
// that turn: a view over several fields of a store redraws once per change of the store, not once per
// field. A turn in which nothing fired runs nothing.
class ChangeBatch : public QObject {
    Q_OBJECT

public:
    ChangeBatch(QObject* owner, std::function<void()> apply);

    template <typename Sender, typename Signal>
    void watch(const Sender* sender, Signal signal)
    {
        connect(sender, signal, this, &ChangeBatch::schedule);
    }

    // Asks for one run on the next turn of the event loop.
    void schedule();
    // Runs a pending apply now instead of later; nothing when none is pending.
    void flush();
    bool pending() const { return m_pending; }

private:
    std::function<void()> m_apply;
    bool m_pending = false;
};
