#pragma once

#include "engine/Usage.h"

#include <QAbstractButton>

#include <functional>

class SymbolView;
class Token;
class VoskLabel;

// One item of the reclaim list: a tick, its name, its note coloured by what removing it costs, and its
// size. The whole row is one button; pressing it calls `toggle`, and the row shows the new tick only
// when the list says so (setOn), so the tick never runs ahead of the selection.
class ReclaimRow final : public QAbstractButton {
    Q_OBJECT

public:
    ReclaimRow(const Reclaimable& item, bool on, std::function<void()> toggle, QWidget* parent = nullptr);

    const Reclaimable& item() const { return m_item; }
    void setItem(const Reclaimable& item);
    bool isOn() const { return isChecked(); }
    void setOn(bool on);

    // The note's colour for each way back: muted when it comes back, badge ink when it needs its
    // source, error ink when it is gone for good.
    static const Token& noteInk(Reclaimable::Recovery recovery);

protected:
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override {}

private:
    void display(const Reclaimable& item);

    Reclaimable m_item;
    std::function<void()> m_toggle;
    SymbolView* m_tick;
    VoskLabel* m_name;
    VoskLabel* m_note;
    VoskLabel* m_size;
};
