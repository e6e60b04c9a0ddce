#pragma once

#include "app/parts/PillButton.h"

// A container's own address as a pill; pressing it puts the address on the clipboard.
class IPPill : public PillButton {
    Q_OBJECT

public:
    explicit IPPill(const QString& ip, QWidget* parent = nullptr);

    QString ip() const { return m_ip; }
    void setIp(const QString& ip);

private:
    QString m_ip;
};
