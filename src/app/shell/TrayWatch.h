#pragma once

#include <QDBusConnection>
#include <QObject>

#include <optional>

class QTimer;

// Whether the desktop shows tray icons now, followed while the application runs: a tray that starts
// after Voskel (a panel started late, or started again) is seen when it comes. Two kinds count, the
// ones Qt can put an icon in: a StatusNotifier host (the watcher on the session bus says one is
// registered, and says when one registers) and an X tray (the owner of the tray selection, looked for
// again every few seconds while there is no tray of either kind, as X says nothing of it to a client
// that has not asked).
//
// Qt itself is not asked before one of them is there: it decides once and for good whether to use the
// StatusNotifier kind, and asked before the desktop's host registered it would keep to the X kind.
class TrayWatch : public QObject {
    Q_OBJECT

public:
    explicit TrayWatch(QObject* parent = nullptr);
    TrayWatch(QDBusConnection bus, QObject* parent);

    bool present() const;

    // Tests pretend either way (none: the desktop decides again); every watch says so at once.
    static void setPresentForTesting(std::optional<bool> present);
    static bool pretending();

    // How often an X tray is looked for while there is no tray.
    static constexpr int xLookMillis = 3000;

signals:
    void presentChanged(bool present);

private slots:
    void lookAtHost();
    void hostAnswered(bool registered);

private:
    void lookAtX();
    void update();

    QDBusConnection m_bus;
    bool m_host = false;
    bool m_x = false;
    bool m_shown = false;
    QTimer* m_xLook;
};
