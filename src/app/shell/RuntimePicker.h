#pragma once

#include <QComboBox>

class AppStore;
struct TextStyle;

// Which runtime the store shows, or all of them: one entry per discovered runtime ("work · current ·
// offline", or "· not answering" for one whose socket is there but whose last listing did not answer),
// then, with two or more, "All runtimes". It holds no state of its own: it shows the
// store's choice as it is, so a hand-over moves the selection too, and a user's choice goes to the
// store. The entries are rebuilt only when their texts change, so an open pop-up survives a poll.
class RuntimePicker : public QComboBox {
    Q_OBJECT

public:
    RuntimePicker(AppStore& store, const TextStyle& style, QWidget* parent = nullptr);

    struct Entry {
        QString text;
        QString tag; // a runtime identifier, or the store's all-runtimes tag

        bool operator==(const Entry&) const = default;
    };
    // The entries for the store's runtimes, in list order; the all-runtimes entry last when two or
    // more are listed.
    static QList<Entry> entries(const AppStore& store);

    // The tag of each entry shown, dividers left out.
    QStringList tags() const;

private:
    void follow();
    void chosen(int index);

    AppStore& m_store;
    QList<Entry> m_entries;
};
