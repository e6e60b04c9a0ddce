#include "app/parts/DialogAnswer.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <coroutine>
#include <memory>

namespace {

struct Waiting {
    QPointer<QDialog> dialog;
    int result = QDialog::Rejected;
    QMetaObject::Connection finished;
    QMetaObject::Connection destroyed;

    // Resumes from a fresh turn of the event loop, never from inside the dialog's own done().
    void resumeLater(std::coroutine_handle<> waiting)
    {
        QObject::disconnect(finished);
        QObject::disconnect(destroyed);
        QTimer::singleShot(0, [waiting] { waiting.resume(); });
    }
};

// Copyable on purpose: GCC 12 copies an awaiter that is co_awaited as an lvalue, so the state the
// connections write into lives behind a shared pointer.
class Answer {
public:
    explicit Answer(QDialog* dialog) : m_state(std::make_shared<Waiting>()) { m_state->dialog = dialog; }

    bool await_ready() const noexcept { return m_state->dialog.isNull(); }

    void await_suspend(std::coroutine_handle<> waiting)
    {
        const std::shared_ptr<Waiting> state = m_state;
        state->finished = QObject::connect(state->dialog, &QDialog::finished, [state, waiting](int result) {
            state->result = result;
            state->resumeLater(waiting);
        });
        state->destroyed = QObject::connect(state->dialog, &QObject::destroyed,
                                            [state, waiting] { state->resumeLater(waiting); });
        state->dialog->open();
    }

    int await_resume() const noexcept { return m_state->result; }

private:
    std::shared_ptr<Waiting> m_state;
};

} // namespace

QCoro::Task<int> answerOf(QDialog* dialog)
{
    co_return co_await Answer(dialog);
}
