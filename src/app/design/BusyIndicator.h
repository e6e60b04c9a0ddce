#pragma once

#include <QWidget>

class QTimer;

// The small indeterminate progress mark: a short arc that turns while the widget is shown, drawn in
// the muted ink. It stops turning whenever it is hidden, so a finished task costs nothing.
class BusyIndicator : public QWidget {
    Q_OBJECT

public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    static constexpr int side = 16;

    QSize sizeHint() const override { return {side, side}; }
    bool turning() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer* m_timer;
    int m_angle = 0; // sixteenths of a degree, as QPainter counts them
};
