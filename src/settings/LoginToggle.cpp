#include "settings/LoginToggle.h"

#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Host.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

LoginToggle::LoginToggle(QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    m_toggle = new QCheckBox(QStringLiteral("Open Voskel at login"), this);
    m_toggle->setObjectName(QStringLiteral("loginToggle"));
    m_toggle->setFont(TextStyles::body.font());
    column->addWidget(m_toggle);

    m_approval = new QWidget(this);
    auto* approval = new QHBoxLayout(m_approval);
    approval->setContentsMargins(0, 0, 0, 0);
    approval->setSpacing(8);
    approval->addWidget(new VoskLabel(QStringLiteral("macOS is waiting for you to allow this."),
                                      TextStyles::note, Vosk::muted, this));
    auto* open = new VoskButton(QStringLiteral("Open Login Items"), VoskButtonStyle::Variant::ghost,
                                std::nullopt, m_approval);
    open->setObjectName(QStringLiteral("openLoginItemsButton"));
    approval->addWidget(open);
    approval->addStretch(1);
    column->addWidget(m_approval);

    m_failureLabel = new VoskLabel(QString(), TextStyles::monoNote, Vosk::errInk, this);
    m_failureLabel->setObjectName(QStringLiteral("loginFailureLabel"));
    m_failureLabel->setWordWrap(true);
    m_failureLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(m_failureLabel);

    // `clicked` comes only from the user, never from showing the state read from the desktop.
    connect(m_toggle, &QCheckBox::clicked, this, &LoginToggle::set);
    // The desktop's list of programs started at login is the autostart folder itself.
    connect(open, &VoskButton::clicked, this, [this] {
        const QString folder = LoginItem::autostartDirectory();
        if (!Host::current().reveal(folder))
            emit openFailed(Host::couldNotOpen(folder));
    });

    read();
}

void LoginToggle::set(bool on)
{
    m_failure.reset();
    try {
        LoginItem::set(on, LoginItem::Entry::application());
    } catch (const LoginItem::Error& error) {
        m_failure = QStringLiteral("Could not %1 this: %2")
                        .arg(on ? QStringLiteral("enable") : QStringLiteral("disable"), error.message());
    }
    read();
}

void LoginToggle::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    read();
}

void LoginToggle::read()
{
    m_state = LoginItem::state(LoginItem::Entry::application());
    apply();
}

void LoginToggle::apply()
{
    m_toggle->setChecked(m_state == LoginItem::State::On);
    const bool waiting = m_state == LoginItem::State::NeedsApproval;
    m_approval->setVisible(waiting);
    m_failureLabel->setPlainText(m_failure.value_or(QString()));
    m_failureLabel->setVisible(!waiting && m_failure.has_value());
}
