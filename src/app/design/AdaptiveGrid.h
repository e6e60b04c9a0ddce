#pragma once

#include <QLayout>
#include <QList>

// Cards in as many equal columns as fit at a minimum width, filling the rows left to right; every
// card of a row is as tall as the row's tallest (within its own maximum), anchored at the top. The
// column count follows the width, so a wider window gets more columns and never wider gaps.
class AdaptiveGrid : public QLayout {
    Q_OBJECT

public:
    // How many columns of at least `minimum` fit in `width` with `spacing` between them; at least one.
    static int columns(double width, double minimum, double spacing);

    AdaptiveGrid(double minimum, double spacing, QWidget* parent = nullptr);
    ~AdaptiveGrid() override;

    double minimumColumnWidth() const { return m_minimum; }
    int columnCount() const { return m_columns; }

    // Puts `widget` at `index` (past the end: last), as QBoxLayout::insertWidget does.
    void insertWidget(int index, QWidget* widget);

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(m_items.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    void invalidate() override;

    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    // The rows' heights for an inner width, with the column count and width used.
    struct Rows {
        int columns = 1;
        double columnWidth = 0;
        QList<int> heights;
        int total = 0;
    };
    Rows rowsFor(int innerWidth) const;
    QList<QLayoutItem*> visibleItems() const;

    double m_minimum;
    double m_spacing;
    int m_columns = 1;
    QList<QLayoutItem*> m_items;
    mutable int m_cachedWidth = -1;
    mutable Rows m_cached;
};
