#pragma once

#include "app/design/Appearance.h"
#include "app/design/Vosk.h"

#include <QObject>
#include <QPalette>
#include <QPointer>

class DesktopColorScheme;

// The one theme of the process: the chosen appearance, the desktop's preference, and from them the
// look that every token resolves to. A change of look rebuilds the application palette and repaints
// every widget, so nothing needs a restart.
class Theme : public QObject {
    Q_OBJECT

public:
    // Created on first use, on the GUI thread.
    static Theme& instance();
    // The look tokens resolve to now; safe to read from any thread.
    static Look currentLook();

    // Puts the whole application on the design's style (Fusion with the design's focus ring and check
    // boxes) with this theme's palette and, when asked, starts following the desktop's colour-scheme
    // preference. Needs the QApplication; later calls only re-apply the palette.
    void install(bool followDesktop = true);

    Appearance appearance() const { return m_appearance; }
    void setAppearance(Appearance appearance);

    bool desktopPrefersDark() const { return m_desktopDark; }
    // Fed by the desktop watcher; tests set it directly.
    void setDesktopPrefersDark(bool dark);

    Look look() const;

    // The platform palette made from the tokens of one look, so standard widgets match the design.
    static QPalette palette(Look look);

signals:
    void lookChanged(Look look);

private:
    Theme() = default;
    void apply(bool force);

    Appearance m_appearance = Appearance::automatic;
    bool m_desktopDark = false;
    bool m_installed = false;
    QPointer<DesktopColorScheme> m_desktop;
};
