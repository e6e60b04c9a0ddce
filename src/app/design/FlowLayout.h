#pragma once

#include <QLayout>
#include <QList>
#include <QPointF>
#include <QSizeF>

// Children left to right at their own size, wrapping to a new row when the next would run past the
// width, like words in a paragraph. Rows are aligned to the top; nothing is ever shrunk, so a child
// wider than the layout sits alone on its row and overflows.
class FlowLayout : public QLayout {
    Q_OBJECT

public:
    // The arranged block and each child's top-left corner, in child order.
    struct Arrangement {
        QSizeF size;
        QList<QPointF> origins;
    };
    // The whole placement rule. `maxWidth` may be infinity (everything on one row); `spacing` is both
    // the gap between neighbours and between rows.
    static Arrangement arrange(const QList<QSizeF>& sizes, double maxWidth, double spacing);

    explicit FlowLayout(double spacing, QWidget* parent = nullptr);
    ~FlowLayout() override;

    double flowSpacing() const { return m_spacing; }

    void addItem(QLayoutItem* item) override;
    // Puts `widget` at `index` (past the end: last), as QBoxLayout::insertWidget does.
    void insertWidget(int index, QWidget* widget);
    int count() const override { return int(m_items.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;

    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    QList<QLayoutItem*> visibleItems() const;
    static QList<QSizeF> idealSizes(const QList<QLayoutItem*>& items);

    double m_spacing;
    QList<QLayoutItem*> m_items;
};
