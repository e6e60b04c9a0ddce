#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariant>

#include <optional>

class QDBusVariant;

// The desktop's colour-scheme preference, read from the freedesktop settings portal over the session
// bus and followed while the application runs. Without a bus or a portal it reports light.
class DesktopColorScheme : public QObject {
    Q_OBJECT

public:
    // Asks the portal on the session bus once, waiting at most `timeoutMillis` so start-up never hangs
    // on a stuck bus, and then listens for changes.
    explicit DesktopColorScheme(QObject* parent = nullptr, int timeoutMillis = 300);
    // The same on a given bus connection.
    DesktopColorScheme(QDBusConnection bus, QObject* parent, int timeoutMillis);

    bool prefersDark() const { return m_dark; }

    // The portal's "color-scheme" value as it arrives (a number, possibly wrapped in variants): 1 means
    // dark, 0 (no preference) and 2 mean light; none when it is not a number at all.
    static std::optional<bool> prefersDark(const QVariant& portalValue);

signals:
    void changed(bool prefersDark);

private slots:
    void onSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void set(bool dark);

    bool m_dark = false;
};
