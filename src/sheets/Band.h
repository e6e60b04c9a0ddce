#pragma once

#include <QWidget>

class QHBoxLayout;
class Token;

// A full-width strip on a colour token: the header and footer rows of a sheet on `Vosk.chrome`,
// holding a row of its own (centre-aligned, padding 12 on all sides).
class Band : public QWidget {
    Q_OBJECT

public:
    Band(const Token& fill, int spacing, QWidget* parent = nullptr);

    QHBoxLayout* row() const { return m_row; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Token* m_fill;
    QHBoxLayout* m_row;
};
