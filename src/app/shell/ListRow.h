#pragma once

#include <QWidget>

class Divider;
class QHBoxLayout;
class VoskButton;
class VoskLabel;

// One row of a list drawn as a single card (the images, the volumes): a divider above every row but
// the first, the item's name over its detail line, and the row's controls at the right, the first of
// them Remove.
class ListRow : public QWidget {
    Q_OBJECT

public:
    // Shows `name` over `detail`; the divider shows when the row is not the first.
    void showTexts(const QString& name, const QString& detail, int position);

protected:
    explicit ListRow(QWidget* parent = nullptr);

    VoskLabel* nameLabel() const { return m_name; }
    VoskLabel* detailLabel() const { return m_detail; }
    VoskButton* removeButton() const { return m_remove; }
    // Adds a control after the ones there.
    void addControl(QWidget* control);

private:
    Divider* m_divider;
    QHBoxLayout* m_row;
    VoskLabel* m_name;
    VoskLabel* m_detail;
    VoskButton* m_remove;
};
