#include "app/parts/Alert.h"
#include "app/design/VoskButton.h"
#include "app/parts/DialogAnswer.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>

#include <QCoroTask>

#include <gtest/gtest.h>

#include <functional>

namespace {

// What a keyboard does: the key goes to the widget that has the focus, not to one the test picks.
void press(QWidget* window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
           bool autoRepeat = false)
{
    QWidget* to = window->focusWidget() ? window->focusWidget() : window;
    QKeyEvent down(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
    QApplication::sendEvent(to, &down);
    QKeyEvent up(QEvent::KeyRelease, key, modifiers, QString(), autoRepeat);
    QApplication::sendEvent(window->focusWidget() ? window->focusWidget() : window, &up);
}

// Moves the focus as Tab and Backtab do, which marks the window as focused from the keyboard.
void tabTo(QWidget* widget)
{
    widget->setFocus(Qt::TabFocusReason);
}

enum class Kind { destructive, field, message };

struct Opened {
    Alert* alert;
    VoskButton* cancel;
    VoskButton* act;
    QLineEdit* field;
};

Opened build(Kind kind, QWidget* window)
{
    auto* alert = new Alert("Down shop?", "Removes the 2 containers.", window);
    Opened opened{alert, nullptr, nullptr, nullptr};
    if (kind == Kind::field)
        opened.field = alert->addField("repository:tag", "referenceField");
    if (kind != Kind::message)
        opened.cancel =
            alert->addButton("Cancel", VoskButtonStyle::Variant::quiet, QDialog::Rejected, "cancelButton");
    opened.act = alert->addButton(kind == Kind::message ? "OK" : "Down",
                                  kind == Kind::destructive ? VoskButtonStyle::Variant::danger
                                                            : VoskButtonStyle::Variant::accent,
                                  QDialog::Accepted, "actButton", true);
    return opened;
}

// Every way a key can answer an alert: Return, keypad Enter and Space with the focus on each button, in
// the field, as the alert opens, held down, and Escape and the window's close button. A destructive answer
// comes only from a key pressed on its own button.
TEST(Alert, AKeyPressesTheButtonTheRingIsOnAndNothingElse)
{
    TestSupport::prepareWidgets();
    struct Row {
        const char* what;
        Kind kind;
        std::function<void(const Opened&)> keys;
        int answer; // -1: still open
        int answers = 1;
    };
    const auto on = [](auto pick, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        return [=](const Opened& o) {
            tabTo(pick(o));
            press(o.alert, key, modifiers);
        };
    };
    const auto cancel = [](const Opened& o) -> QWidget* { return o.cancel; };
    const auto act = [](const Opened& o) -> QWidget* { return o.act; };
    const auto field = [](const Opened& o) -> QWidget* { return o.field; };
    const int rejected = QDialog::Rejected;
    const int accepted = QDialog::Accepted;
    const Row rows[] = {
        {"Return as a destructive alert opens", Kind::destructive,
         [](const Opened& o) { press(o.alert, Qt::Key_Return); }, rejected},
        {"keypad Enter as it opens", Kind::destructive,
         [](const Opened& o) { press(o.alert, Qt::Key_Enter, Qt::KeypadModifier); }, rejected},
        {"Return on Cancel", Kind::destructive, on(cancel, Qt::Key_Return), rejected},
        {"Enter on Cancel", Kind::destructive, on(cancel, Qt::Key_Enter, Qt::KeypadModifier), rejected},
        {"Space on Cancel", Kind::destructive, on(cancel, Qt::Key_Space), rejected},
        {"Return on Down", Kind::destructive, on(act, Qt::Key_Return), accepted},
        {"Enter on Down", Kind::destructive, on(act, Qt::Key_Enter, Qt::KeypadModifier), accepted},
        {"Space on Down", Kind::destructive, on(act, Qt::Key_Space), accepted},
        {"Return held down before the alert came", Kind::destructive,
         [=](const Opened& o) {
             tabTo(o.act);
             press(o.alert, Qt::Key_Return, Qt::NoModifier, true);
         },
         -1},
        {"Return with the focus on no button", Kind::destructive,
         [](const Opened& o) {
             o.alert->setFocus(Qt::TabFocusReason);
             press(o.alert, Qt::Key_Return);
         },
         -1},
        {"Escape", Kind::destructive, on(act, Qt::Key_Escape), rejected},
        {"the window's close button", Kind::destructive, [](const Opened& o) { o.alert->close(); }, rejected},
        {"Return in the field", Kind::field, on(field, Qt::Key_Return), accepted},
        {"Return on Cancel beside a field", Kind::field, on(cancel, Qt::Key_Return), rejected},
        {"Return as a message opens", Kind::message, [](const Opened& o) { press(o.alert, Qt::Key_Return); },
         accepted},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QWidget window;
        window.show();
        const Opened opened = build(row.kind, &window);
        QSignalSpy finished(opened.alert, &QDialog::finished);
        std::optional<int> answer;
        [](Alert* alert, std::optional<int>& out) -> QCoro::Task<> {
            out = co_await answerOf(alert);
        }(opened.alert, answer);
        ASSERT_TRUE(opened.alert->isVisible());
        QCoreApplication::processEvents();
        row.keys(opened);
        QCoreApplication::processEvents();
        if (row.answer < 0) {
            EXPECT_TRUE(opened.alert->isVisible());
            EXPECT_TRUE(finished.isEmpty());
            opened.alert->reject();
            QCoreApplication::processEvents();
            continue;
        }
        ASSERT_TRUE(TestSupport::eventually([&] { return answer.has_value(); }));
        EXPECT_EQ(*answer, row.answer);
        EXPECT_EQ(finished.size(), 1) << "answered more than once";
    }
}

// The ring is on a button from the moment an alert opens: Cancel where the other answer destroys, the
// default button otherwise, and the field where there is one.
TEST(Alert, OpensWithTheRingOnTheButtonReturnWouldPress)
{
    TestSupport::prepareWidgets();
    for (const auto& [kind, expected] :
         {std::pair{Kind::destructive, "cancelButton"}, std::pair{Kind::message, "actButton"},
          std::pair{Kind::field, "referenceField"}}) {
        QWidget window;
        window.show();
        const Opened opened = build(kind, &window);
        opened.alert->open();
        QCoreApplication::processEvents();
        QWidget* focused = opened.alert->focusWidget();
        ASSERT_NE(focused, nullptr);
        EXPECT_EQ(focused->objectName(), expected);
        EXPECT_TRUE(opened.alert->testAttribute(Qt::WA_KeyboardFocusChange)) << expected;
        opened.alert->reject();
    }
}

// A button that got the focus without the ring (the first control of a sheet as it opens) takes no key:
// only the one the ring shows is pressed.
TEST(Alert, AButtonWithoutTheRingTakesNoKey)
{
    TestSupport::prepareWidgets();
    QDialog sheet;
    auto* remove = new VoskButton("Delete", VoskButtonStyle::Variant::danger, std::nullopt, &sheet);
    int pressed = 0;
    QObject::connect(remove, &QAbstractButton::clicked, [&] { ++pressed; });
    sheet.show();
    remove->setFocus(Qt::OtherFocusReason);
    sheet.setAttribute(Qt::WA_KeyboardFocusChange, false);
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter), int(Qt::Key_Space)})
        press(&sheet, key);
    EXPECT_EQ(pressed, 0);
    EXPECT_TRUE(sheet.isVisible());

    sheet.setAttribute(Qt::WA_KeyboardFocusChange);
    press(&sheet, Qt::Key_Space);
    press(&sheet, Qt::Key_Return);
    EXPECT_EQ(pressed, 2);
}

} // namespace
