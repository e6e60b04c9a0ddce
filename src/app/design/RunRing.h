#pragma once

#include <QWidget>

class EasedValue;

// How many of a project's containers run: an arc over a track, with "running/total" inside; muted
// instead of green when dimmed. The arc eases to a new share. While what runs is not known (its
// runtime has not answered), the track stands empty and the count reads "—/total".
class RunRing : public QWidget {
    Q_OBJECT

public:
    RunRing(qint64 running, qint64 total, bool dimmed, QWidget* parent = nullptr);

    void setCounts(qint64 running, qint64 total);
    void setDimmed(bool dimmed);
    void setKnown(bool known);
    // The count as drawn inside the ring.
    QString countText() const;
    qint64 running() const { return m_running; }
    qint64 total() const { return m_total; }
    bool dimmed() const { return m_dimmed; }

    // The share of the circle the arc covers: running over total, held between 0 and 1; 0 when there
    // is nothing to count.
    static double fraction(qint64 running, qint64 total);

    static constexpr int side = 32;
    static constexpr double lineWidth = 2.5;

    QSize sizeHint() const override { return {side, side}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void describe();

    qint64 m_running;
    qint64 m_total;
    bool m_dimmed;
    bool m_known = true;
    EasedValue* m_arc;
};
