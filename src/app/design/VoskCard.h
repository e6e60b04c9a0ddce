#pragma once

#include <QWidget>

class Token;

// The surface every card sits on: the card fill, corners of radius 14 and a 1-pixel hairline that
// stays on top of the card's children. Cards bring their own padding; the children should leave
// their background clear so the corners stay round.
class VoskCard : public QWidget {
    Q_OBJECT

public:
    explicit VoskCard(QWidget* parent = nullptr);

    // The hairline's colour: `Vosk::line` unless a card in trouble outlines itself in `errLine`.
    void setEdge(const Token& tint);
    const Token& edge() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    QWidget* m_edge = nullptr;
};

// Dresses `content` as a card: returns a new card that holds it edge to edge.
VoskCard* voskCard(QWidget* content, QWidget* parent = nullptr);
