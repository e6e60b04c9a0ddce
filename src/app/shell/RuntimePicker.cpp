#include "app/shell/RuntimePicker.h"

#include "app/design/TextStyle.h"
#include "store/AppStore.h"

RuntimePicker::RuntimePicker(AppStore& store, const TextStyle& style, QWidget* parent)
    : QComboBox(parent), m_store(store)
{
    setObjectName(QStringLiteral("runtimePicker"));
    setAccessibleName(QStringLiteral("Runtime"));
    setFont(style.font());
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    setToolTip(
        QStringLiteral("Container runtime. \u201Ccurrent\u201D is the one docker uses in a terminal."));
    connect(this, &QComboBox::activated, this, &RuntimePicker::chosen);
    connect(&m_store, &AppStore::runtimesChanged, this, &RuntimePicker::follow);
    connect(&m_store, &AppStore::runtimeChanged, this, &RuntimePicker::follow);
    connect(&m_store, &AppStore::showAllChanged, this, &RuntimePicker::follow);
    connect(&m_store, &AppStore::silentChanged, this, &RuntimePicker::follow);
    follow();
}

QList<RuntimePicker::Entry> RuntimePicker::entries(const AppStore& store)
{
    QList<Entry> result;
    for (const RuntimeEntry& entry : store.runtimes()) {
        QString text = entry.label();
        // An offline one says so already; one whose socket is there may still not answer.
        if (entry.reachable && store.isSilent(entry.runtime))
            text += QStringLiteral(u" \u00B7 not answering");
        result.append({text, entry.id()});
    }
    if (store.runtimes().size() >= 2)
        result.append({QStringLiteral("All runtimes"), AppStore::allRuntimesTag()});
    return result;
}

QStringList RuntimePicker::tags() const
{
    QStringList result;
    for (int i = 0; i < count(); ++i) {
        const QVariant tag = itemData(i);
        if (tag.isValid())
            result << tag.toString();
    }
    return result;
}

void RuntimePicker::follow()
{
    const QList<Entry> wanted = entries(m_store);
    if (wanted != m_entries) {
        const QSignalBlocker quiet(this);
        clear();
        for (const Entry& entry : wanted) {
            if (entry.tag == AppStore::allRuntimesTag())
                insertSeparator(count());
            addItem(entry.text, entry.tag);
        }
        m_entries = wanted;
    }
    // All runtimes with only one left (the other's context removed) show that one: it is what is shown.
    // A selection no entry carries otherwise (nothing chosen yet, nothing listed) shows none as chosen.
    int index = findData(m_store.selection());
    if (index < 0 && m_store.showAll() && m_entries.size() == 1)
        index = 0;
    if (index != currentIndex()) {
        const QSignalBlocker quiet(this);
        setCurrentIndex(index);
    }
}

void RuntimePicker::chosen(int index)
{
    const QVariant tag = itemData(index);
    if (!tag.isValid())
        return;
    // The store decides: an identifier that vanished meanwhile changes nothing.
    m_store.select(tag.toString());
}
