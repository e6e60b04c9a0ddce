#pragma once

#include <QWidget>

#include <optional>

class VoskLabel;

// Three figures side by side, CPU, memory and disk, on a rounded page-coloured strip. An absent figure
// shows as a muted dash in the regular weight.
class StatStrip : public QWidget {
    Q_OBJECT

public:
    StatStrip(const std::optional<QString>& cpu, const std::optional<QString>& memory,
              const std::optional<QString>& disk, QWidget* parent = nullptr);

    void setFigures(const std::optional<QString>& cpu, const std::optional<QString>& memory,
                    const std::optional<QString>& disk);

    // The value label of cell 0 (CPU), 1 (memory) or 2 (disk).
    VoskLabel* valueLabel(int cell) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Cell {
        QWidget* box;
        QString label;
        VoskLabel* value;
    };
    static void show(Cell& cell, const std::optional<QString>& value);

    Cell m_cells[3];
};
