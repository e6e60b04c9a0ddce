#pragma once

#include <QBoxLayout>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>

// How a list's rows change from one refresh to the next: for each wanted key in order, the existing
// row to keep (its index) or -1 to build one; and the existing rows that go. Keys that repeat are
// told apart by occurrence, so the second "web" stays the second "web".
struct RowPlan {
    QList<int> sources;
    QList<int> dropped;
};
RowPlan planRows(const QStringList& current, const QStringList& wanted);

// The rows of a list in a box layout, kept by key across refreshes: a row whose key stays is the same
// widget afterwards (its open menu, focus and hover survive the poll), new keys get new rows, and
// rows of vanished keys are removed. `update` is called for every row after each sync, with its
// position, so a row can redraw its data and, say, its divider. Any layout with QBoxLayout's
// insertWidget(index, widget) will do (a grid of cards, say).
template <typename Item, typename Row, typename Layout = QBoxLayout>
class KeyedRows {
public:
    using KeyOf = std::function<QString(const Item&)>;
    using Make = std::function<Row*(const Item&)>;
    using Update = std::function<void(Row*, const Item&, int)>;

    // Rows occupy the layout from `firstIndex` on; items before it (a header) are left alone.
    KeyedRows(Layout* layout, KeyOf keyOf, Make make, Update update, int firstIndex = 0)
        : m_layout(layout), m_keyOf(std::move(keyOf)), m_make(std::move(make)), m_update(std::move(update)),
          m_firstIndex(firstIndex)
    {
    }

    void sync(const QList<Item>& items)
    {
        QStringList wanted;
        wanted.reserve(items.size());
        for (const Item& item : items)
            wanted.append(m_keyOf(item));
        const RowPlan plan = planRows(m_keys, wanted);

        for (int index : plan.dropped) {
            if (QWidget* row = m_rows.at(index)) {
                m_layout->removeWidget(row);
                row->hide();
                // Later, not now: the row may be the sender of the signal that led to this refresh.
                row->deleteLater();
            }
        }

        QList<QPointer<Row>> rows;
        rows.reserve(items.size());
        for (qsizetype i = 0; i < items.size(); ++i) {
            const int source = plan.sources.at(i);
            Row* row = source >= 0 ? m_rows.at(source).data() : nullptr;
            if (!row)
                row = m_make(items.at(i));
            rows.append(row);
            const int position = m_firstIndex + int(i);
            // Looked up at its place first: a row that stays put costs no search of the layout.
            QLayoutItem* there = m_layout->itemAt(position);
            if (!there || there->widget() != row) {
                m_layout->removeWidget(row);
                m_layout->insertWidget(position, row);
            }
            row->show();
            m_update(row, items.at(i), int(i));
        }
        m_rows = rows;
        m_keys = wanted;
    }

    qsizetype size() const { return m_rows.size(); }
    Row* at(qsizetype index) const { return m_rows.at(index).data(); }
    // The row of the first item with `key`, or null.
    Row* row(const QString& key) const
    {
        const qsizetype index = m_keys.indexOf(key);
        return index < 0 ? nullptr : m_rows.at(index).data();
    }

private:
    Layout* m_layout;
    KeyOf m_keyOf;
    Make m_make;
    Update m_update;
    int m_firstIndex;
    QStringList m_keys;
    QList<QPointer<Row>> m_rows;
};
