#include "sheets/RegistryLoginView.h"

#include "app/design/BusyIndicator.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "engine/Docker.h"
#include "sheets/Band.h"
#include "sheets/SheetParts.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>

RegistryLoginView::RegistryLoginView(AppStore& store, QWidget* parent) : QDialog(parent), m_store(store)
{
    setObjectName(QStringLiteral("registryLoginSheet"));
    setWindowTitle(QStringLiteral("Registry login"));

    auto* header = new Band(Vosk::chrome, 10, this);
    VoskLabel* title = SheetParts::title(QStringLiteral("Registry login"), header);
    m_runtime = new VoskLabel(QString(), TextStyles::groupLabel, Vosk::muted, header);
    m_runtime->setObjectName(QStringLiteral("runtimeLabel"));
    m_runtime->setElideMode(Qt::ElideMiddle);
    auto* close =
        new VoskButton(QStringLiteral("Close"), VoskButtonStyle::Variant::quiet, std::nullopt, header);
    close->setObjectName(QStringLiteral("closeButton"));
    header->row()->addWidget(title, 0, Qt::AlignVCenter);
    header->row()->addWidget(m_runtime, 0, Qt::AlignVCenter);
    header->row()->addStretch(1);
    header->row()->addWidget(close, 0, Qt::AlignVCenter);

    m_form = new QWidget(this);
    auto* form = new QVBoxLayout(m_form);
    form->setContentsMargins(16, 16, 16, 16);
    form->setSpacing(10);
    m_server = SheetParts::lineField(QStringLiteral("Registry, e.g. ghcr.io \u2014 empty for Docker Hub"),
                                     QStringLiteral("serverField"), m_form);
    m_username = SheetParts::lineField(QStringLiteral("Username"), QStringLiteral("usernameField"), m_form);
    m_password = SheetParts::lineField(QStringLiteral("Password or access token"),
                                       QStringLiteral("passwordField"), m_form);
    m_password->setEchoMode(QLineEdit::Password);
    m_said = new VoskLabel(QString(), TextStyles::mono, Vosk::success, m_form);
    m_said->setObjectName(QStringLiteral("resultLabel"));
    m_said->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_said->setMaximumLines(4);
    m_said->hide();

    auto* footer = new QHBoxLayout;
    footer->setSpacing(8);
    m_busy = new BusyIndicator(m_form);
    m_login =
        new VoskButton(QStringLiteral("Log in"), VoskButtonStyle::Variant::accent, std::nullopt, m_form);
    m_login->setObjectName(QStringLiteral("loginButton"));
    footer->addStretch(1);
    footer->addWidget(m_busy, 0, Qt::AlignVCenter);
    footer->addWidget(m_login, 0, Qt::AlignVCenter);

    form->addWidget(m_server);
    form->addWidget(m_username);
    form->addWidget(m_password);
    form->addWidget(m_said);
    form->addLayout(footer);

    SheetParts::stack(this, header, m_form);

    connect(close, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(m_login, &QAbstractButton::clicked, this, &RegistryLoginView::login);
    connect(m_password, &QLineEdit::returnPressed, this, &RegistryLoginView::login);
    for (QLineEdit* edit : {m_username, m_password})
        connect(edit, &QLineEdit::textChanged, this, &RegistryLoginView::sync);
    connect(&m_store, &AppStore::runtimeChanged, this, &RegistryLoginView::sync);
    sync();
    fitHeight();
}

bool RegistryLoginView::ready(const QString& username, const QString& password, bool working)
{
    return !Docker::trimBlanks(username).isEmpty() && !password.isEmpty() && !working;
}

bool RegistryLoginView::ready() const
{
    return ready(m_username->text(), m_password->text(), m_working);
}

void RegistryLoginView::login()
{
    if (!ready())
        return;
    m_working = true;
    m_result.reset();
    sync();
    // Taken exactly as typed: the store trims the registry and the user name itself.
    attempt(m_server->text(), m_username->text(), m_password->text());
}

QCoro::Task<> RegistryLoginView::attempt(QString server, QString username, QString password)
{
    QPointer<RegistryLoginView> self(this);
    const AppStore::LoginResult result = co_await m_store.login(server, username, password);
    if (!self)
        co_return;
    m_result = result;
    m_password->clear();
    m_working = false;
    sync();
    // Ready for the next try: the registry and the user name stay, the password is typed again.
    m_password->setFocus();
}

void RegistryLoginView::sync()
{
    const std::optional<Runtime>& runtime = m_store.runtime();
    m_runtime->setPlainText(runtime ? QStringLiteral("ON ") + runtime->name.toUpper() : QString());
    m_runtime->setVisible(runtime.has_value());
    m_form->setEnabled(!m_working);
    m_busy->setVisible(m_working);
    m_login->setEnabled(ready());
    // Only a change of the outcome line changes the sheet's height; typing does not.
    const bool shown = m_result.has_value();
    const QString said = m_result ? m_result->said : QString();
    if (m_result)
        m_said->setInk(m_result->ok ? Vosk::success : Vosk::errInk);
    if (m_said->isVisibleTo(this) == shown && m_said->plainText() == said)
        return;
    m_said->setPlainText(said);
    m_said->setVisible(shown);
    fitHeight();
}

void RegistryLoginView::fitHeight()
{
    // Fixed width; the height follows what the form shows (the outcome line comes and goes). The
    // form's cached size is dropped first: its layout only learns of the new line on the next turn.
    m_form->updateGeometry();
    SheetParts::fitHeight(this, width);
}
