#pragma once

#include <QWidget>

// A one-pixel horizontal rule in the line colour, across the width it is given: between list rows,
// under banners, between the parts of a panel.
class Divider : public QWidget {
    Q_OBJECT

public:
    explicit Divider(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {1, 1}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
