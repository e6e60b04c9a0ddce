#include "app/design/Theme.h"

#include "app/design/DesktopColorScheme.h"
#include "app/design/FocusOrder.h"
#include "app/design/FocusRing.h"
#include "app/design/ToolTips.h"
#include "app/design/VoskStyle.h"

#include <QApplication>
#include <QToolTip>
#include <QWidget>

#include <atomic>

namespace {

std::atomic<Look> effectiveLook{Look::light};

} // namespace

Theme& Theme::instance()
{
    // Deliberately never destroyed: widgets may resolve tokens while the application shuts down.
    static Theme* theme = new Theme;
    return *theme;
}

Look Theme::currentLook()
{
    return effectiveLook.load(std::memory_order_relaxed);
}

void Theme::install(bool followDesktop)
{
    if (!m_installed) {
        m_installed = true;
        QApplication::setStyle(new VoskStyle);
        if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance())) {
            FocusRing::install(*application);
            FocusOrder::install(*application);
            ToolTips::install(*application);
        }
    }
    if (followDesktop && !m_desktop && qApp) {
        // Owned by the application object, so its bus connection ends with the application.
        m_desktop = new DesktopColorScheme(qApp);
        connect(m_desktop, &DesktopColorScheme::changed, this, &Theme::setDesktopPrefersDark);
        m_desktopDark = m_desktop->prefersDark();
    }
    apply(true);
}

void Theme::setAppearance(Appearance appearance)
{
    if (appearance == m_appearance)
        return;
    m_appearance = appearance;
    apply(false);
}

void Theme::setDesktopPrefersDark(bool dark)
{
    if (dark == m_desktopDark)
        return;
    m_desktopDark = dark;
    apply(false);
}

Look Theme::look() const
{
    switch (m_appearance) {
    case Appearance::light:
        return Look::light;
    case Appearance::dark:
        return Look::dark;
    case Appearance::automatic:
        break;
    }
    return m_desktopDark ? Look::dark : Look::light;
}

void Theme::apply(bool force)
{
    const Look next = look();
    const bool changed = effectiveLook.exchange(next) != next;
    if (!changed && !force)
        return;
    if (m_installed && qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QApplication::setPalette(palette(next));
        // Tooltips keep a palette of their own.
        QToolTip::setPalette(palette(next));
    }
    // Custom-painted widgets read tokens in paintEvent; those with a palette of their own would not
    // see the application palette change, so every widget is asked to repaint.
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        const QWidgetList widgets = QApplication::allWidgets();
        for (QWidget* widget : widgets)
            widget->update();
    }
    if (changed)
        emit lookChanged(next);
}

QPalette Theme::palette(Look look)
{
    const auto c = [look](const Token& token) { return token.resolve(look); };
    QPalette p;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Window, c(Vosk::page));
        p.setColor(group, QPalette::WindowText, c(Vosk::ink));
        p.setColor(group, QPalette::Base, c(Vosk::control));
        p.setColor(group, QPalette::AlternateBase, c(Vosk::chrome));
        p.setColor(group, QPalette::ToolTipBase, c(Vosk::card));
        p.setColor(group, QPalette::ToolTipText, c(Vosk::ink));
        p.setColor(group, QPalette::PlaceholderText, c(Vosk::muted));
        p.setColor(group, QPalette::Text, c(Vosk::ink));
        p.setColor(group, QPalette::Button, c(Vosk::control));
        p.setColor(group, QPalette::ButtonText, c(Vosk::ink));
        p.setColor(group, QPalette::BrightText, c(Vosk::onAccent));
        p.setColor(group, QPalette::Light, c(Vosk::card));
        p.setColor(group, QPalette::Midlight, c(Vosk::wash));
        p.setColor(group, QPalette::Mid, c(Vosk::line));
        p.setColor(group, QPalette::Dark, c(Vosk::muted));
        p.setColor(group, QPalette::Shadow, c(Vosk::ink));
        p.setColor(group, QPalette::Highlight, c(Vosk::ion));
        p.setColor(group, QPalette::HighlightedText, c(Vosk::onAccent));
        p.setColor(group, QPalette::Link, c(Vosk::ion));
        p.setColor(group, QPalette::LinkVisited, c(Vosk::ionHover));
    }
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, c(Vosk::muted));
    return p;
}
