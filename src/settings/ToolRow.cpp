#include "settings/ToolRow.h"

#include "app/design/Vosk.h"
#include "app/design/VoskBadge.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Host.h"
#include "settings/CardHeading.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QUrl>

ToolRow::Look ToolRow::lookOf(const Tool& tool, bool brewAvailable)
{
    using Variant = VoskButtonStyle::Variant;
    Look look;
    look.older = tool.hasUpdate();

    if (!tool.installed)
        look.version = Vosk::absent();
    else if (look.older)
        look.version = *tool.installed + QStringLiteral(" → ") + *tool.latest;
    else
        look.version = *tool.installed;

    if (!tool.installed) {
        look.badge = QStringLiteral("not installed");
        look.badgeFill = tool.isOptional ? &Vosk::pillFill : &Vosk::errFill;
        look.badgeInk = tool.isOptional ? &Vosk::pillInk : &Vosk::errInk;
    } else if (!tool.latest) {
        look.badge = QStringLiteral("not checked");
        look.badgeFill = &Vosk::pillFill;
        look.badgeInk = &Vosk::pillInk;
    } else if (look.older) {
        look.badge = QStringLiteral("update");
        look.badgeFill = &Vosk::badgeFill;
        look.badgeInk = &Vosk::badgeInk;
    } else {
        look.badge = QStringLiteral("up to date");
        look.badgeFill = &Vosk::pillFill;
        look.badgeInk = &Vosk::success;
    }

    if (!tool.installed) {
        look.action = Action::install;
        look.actionTitle = QStringLiteral("Install");
        look.variant = tool.isOptional ? Variant::quiet : Variant::accent;
        look.help =
            tool.isOptional
                ? QStringLiteral("Installs with Homebrew and starts the engine. The first start downloads "
                                 "a VM image.")
                : QStringLiteral("Installs with Homebrew, fetches the kernel and starts the services");
        look.enabled = brewAvailable;
    } else if (look.older && tool.brewManaged) {
        look.action = Action::update;
        look.actionTitle = QStringLiteral("Update");
        look.variant = Variant::accent;
    } else if (look.older) {
        look.action = Action::releaseNotes;
        look.actionTitle = QStringLiteral("Release notes");
        look.variant = Variant::quiet;
        look.help = QStringLiteral("Installed outside Homebrew — update it where you installed it from");
    } else {
        look.action = Action::homepage;
        look.actionTitle = QStringLiteral("Homepage");
        look.variant = Variant::ghost;
    }
    return look;
}

ToolRow::ToolRow(const Tool& tool, bool brewAvailable, QWidget* parent)
    : QWidget(parent), m_tool(tool), m_brewAvailable(brewAvailable)
{
    setObjectName(QStringLiteral("toolRow"));
    const CardHeading heading = CardHeading::build(this, tool.name, tool.purpose, QStringLiteral("version"));
    m_name = heading.title;
    m_purpose = heading.explanation;
    m_version = heading.size;
    m_version->setObjectName(QStringLiteral("versionLabel"));
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_version->show();
    m_badge = heading.badge;

    m_button = new VoskButton(QString(), VoskButtonStyle::Variant::ghost, std::nullopt, this);
    m_button->setObjectName(QStringLiteral("toolActionButton"));
    heading.row->addWidget(m_button, 0, Qt::AlignTop);
    connect(m_button, &VoskButton::clicked, this, &ToolRow::act);

    apply();
}

void ToolRow::setTool(const Tool& tool, bool brewAvailable)
{
    if (tool == m_tool && brewAvailable == m_brewAvailable)
        return;
    m_tool = tool;
    m_brewAvailable = brewAvailable;
    apply();
}

void ToolRow::setRuleAbove(bool rule)
{
    if (rule == m_ruleAbove)
        return;
    m_ruleAbove = rule;
    update();
}

void ToolRow::paintEvent(QPaintEvent*)
{
    if (m_ruleAbove)
        QPainter(this).fillRect(QRect(0, 0, width(), 1), Vosk::line.color());
}

void ToolRow::apply()
{
    const Look look = lookOf(m_tool, m_brewAvailable);
    m_name->setPlainText(m_tool.name);
    m_purpose->setPlainText(m_tool.purpose);
    m_version->setPlainText(look.version);
    m_version->setTextStyle(look.older ? TextStyles::monoStrong : TextStyles::mono);
    m_version->setInk(look.older ? Vosk::ink : Vosk::muted);
    m_badge->setText(look.badge);
    m_badge->setColors(*look.badgeFill, *look.badgeInk);
    m_button->setText(look.actionTitle);
    m_button->setVariant(look.variant);
    m_button->setToolTip(look.help.isEmpty() ? QString() : Vosk::toolTip(look.help));
    m_button->setEnabled(look.enabled);
}

void ToolRow::act()
{
    switch (lookOf(m_tool, m_brewAvailable).action) {
    case Action::install:
        emit jobRequested(ToolJob::install({m_tool.formula}));
        return;
    case Action::update:
        emit jobRequested(ToolJob::upgrade({m_tool.formula}));
        return;
    case Action::releaseNotes:
    case Action::homepage: {
        // Only a complete address is handed on; anything else does nothing.
        const QUrl url(m_tool.homepage, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty() &&
            !Host::current().openUrl(url))
            emit openFailed(Host::couldNotOpen(url.toString()));
        return;
    }
    }
}
