#pragma once

#include <QList>
#include <QString>
#include <QWidget>

// A row of equally wide segments of which exactly one is chosen, each a symbol and a title: the
// appearance picker. Choosing with the mouse or the arrow keys emits `activated`; setting the
// choice from code emits nothing, so a control filled from a setting never writes it back.
class SegmentedControl : public QWidget {
    Q_OBJECT

public:
    struct Segment {
        QString symbol; // empty: title only
        QString title;
    };

    explicit SegmentedControl(const QList<Segment>& segments, QWidget* parent = nullptr);

    int count() const { return int(m_segments.size()); }
    const Segment& segment(int index) const { return m_segments.at(index); }
    int currentIndex() const { return m_current; }
    void setCurrentIndex(int index);

    // The segment under `x` in a control `width` wide with `count` segments; -1 outside.
    static int segmentAt(double x, double width, int count);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    // The user chose the segment at `index` (also when it was already chosen).
    void activated(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void choose(int index);
    double segmentWidth() const;

    QList<Segment> m_segments;
    int m_current = 0;
};
