#pragma once

#include "app/parts/PillButton.h"

#include <QUrl>

#include <optional>

// A published host port as a pill. While the container runs, pressing it opens the port on the
// loopback host in the browser; otherwise it is muted and does nothing.
class AddressPill : public PillButton {
    Q_OBJECT

public:
    AddressPill(const QString& port, bool live, QWidget* parent = nullptr);

    QString port() const { return m_port; }
    bool live() const { return m_live; }
    void setLive(bool live);

    // "http://localhost:<port>", or none when that is not a valid web address.
    static std::optional<QUrl> address(const QString& port);

signals:
    // Pressed, and the desktop could not open the address; `message` says so.
    void openFailed(const QString& message);

private:
    void open();

    QString m_port;
    bool m_live = false;
};
