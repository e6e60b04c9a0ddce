#include "app/parts/DialogAnswer.h"

#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Each case opens a dialog over a window and ends it one way; the waiting coroutine must always go
// on, also when the dialog is deleted the moment it answers or its window goes away first.
TEST(DialogAnswer, TheWaiterAlwaysGoesOn)
{
    struct Case {
        const char* what;
        std::function<void(QDialog*, std::unique_ptr<QWidget>&)> end;
        int expected;
    };
    const QList<Case> cases{
        {"accepted", [](QDialog* d, auto&) { d->accept(); }, QDialog::Accepted},
        {"rejected", [](QDialog* d, auto&) { d->reject(); }, QDialog::Rejected},
        {"custom code", [](QDialog* d, auto&) { d->done(7); }, 7},
        {"deleted as it closes",
         [](QDialog* d, auto&) {
             d->setAttribute(Qt::WA_DeleteOnClose);
             d->accept();
         },
         QDialog::Accepted},
        {"window closed under it", [](QDialog*, auto& window) { window.reset(); }, QDialog::Rejected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto window = std::make_unique<QWidget>();
        window->show();
        auto* dialog = new QDialog(window.get());
        QTimer::singleShot(0, [&] {
            EXPECT_TRUE(dialog->isVisible());
            c.end(dialog, window);
        });
        EXPECT_EQ(QCoro::waitFor(answerOf(dialog)), c.expected);
    }
}

} // namespace
