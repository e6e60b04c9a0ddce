#pragma once

#include "store/AppStore.h"

#include <QCoroTask>
#include <QDialog>

#include <optional>

class BusyIndicator;
class QLineEdit;
class VoskButton;
class VoskLabel;

// The sheet that logs the shown runtime's client in to an image registry. The password goes to the
// store, which hands it to the client on standard input only; the field is emptied after every
// attempt, so the secret does not stay on screen. The sheet stays open after a login, showing what
// the client said, until the user closes it; closing it does not stop a login under way.
class RegistryLoginView final : public QDialog {
    Q_OBJECT

public:
    static constexpr int width = 460;

    explicit RegistryLoginView(AppStore& store, QWidget* parent = nullptr);

    // Whether "Log in" may be pressed: a user name that is more than blanks and tabs, any password
    // (blanks count: it is sent as typed), and no login under way.
    bool ready() const;
    static bool ready(const QString& username, const QString& password, bool working);
    bool working() const { return m_working; }
    const std::optional<AppStore::LoginResult>& result() const { return m_result; }

    // Tries the login; does nothing unless ready.
    void login();

private:
    QCoro::Task<> attempt(QString server, QString username, QString password);
    void sync();
    void fitHeight();

    AppStore& m_store;
    bool m_working = false;
    std::optional<AppStore::LoginResult> m_result;

    VoskLabel* m_runtime;
    QWidget* m_form;
    QLineEdit* m_server;
    QLineEdit* m_username;
    QLineEdit* m_password;
    VoskLabel* m_said;
    BusyIndicator* m_busy;
    VoskButton* m_login;
};
