#pragma once

#include "engine/Usage.h"

#include <QList>
#include <QWidget>

class SymbolView;
class Token;
class VoskLabel;

// The one-line warning under a reclaim selection: how many chosen items cannot come back and how many
// need their source. In error ink when anything is gone for good, else in badge ink; hidden when
// nothing chosen is lost.
class ReclaimWarning final : public QWidget {
    Q_OBJECT

public:
    explicit ReclaimWarning(const QList<Reclaimable>& items, QWidget* parent = nullptr);

    void setItems(const QList<Reclaimable>& items);
    // The warning as shown; empty when there is none.
    QString text() const;
    const Token& ink() const;

private:
    SymbolView* m_symbol;
    VoskLabel* m_text;
};
