#pragma once

#include <QWidget>

// A one-pixel rule in the line colour, across the length it is given: horizontal between list rows,
// under banners, between the parts of a panel; vertical between side-by-side columns.
class Divider : public QWidget {
    Q_OBJECT

public:
    explicit Divider(QWidget* parent = nullptr) : Divider(Qt::Horizontal, parent) {}
    explicit Divider(Qt::Orientation orientation, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {1, 1}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
