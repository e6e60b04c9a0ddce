#pragma once

#include "toolchain/LoginItem.h"

#include <QWidget>

#include <optional>

class QCheckBox;
class VoskLabel;

// The switch that opens the application at login. It shows what the desktop says, not what the user
// asked for: after every change, and each time it is shown, it reads the login item again. A change
// that fails shows the reason under the switch until the next change.
class LoginToggle : public QWidget {
    Q_OBJECT

public:
    explicit LoginToggle(QWidget* parent = nullptr);

    LoginItem::State state() const { return m_state; }
    const std::optional<QString>& failure() const { return m_failure; }
    // Switches the login item on or off, as the toggle does.
    void set(bool on);

signals:
    // The folder of programs started at login was asked for and the desktop could not open it.
    void openFailed(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void read();
    void apply();

    LoginItem::State m_state = LoginItem::State::Off;
    std::optional<QString> m_failure;
    QCheckBox* m_toggle;
    QWidget* m_approval;
    VoskLabel* m_failureLabel;
};
