#pragma once

#include "app/parts/Category.h"
#include "engine/Runtime.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class AppStore;
class SymbolView;
class VoskButton;
class VoskLabel;

// What a list screen shows instead of its list when there is nothing to list. It tells an empty list
// from a filter that matches nothing and offers the way out of each: "Clear filter", or, for an empty
// projects list, the add buttons the projects screen hands in. While the runtimes in scope have not
// answered a listing it claims neither, and says that they are not answering or still awaited.
// Follows the store's filter as it is typed.
class EmptyState : public QWidget {
    Q_OBJECT

public:
    // `projectActions` (taken over) is shown for the projects category while nothing is filtered.
    EmptyState(AppStore& store, Category category, QWidget* projectActions = nullptr,
               QWidget* parent = nullptr);

    Category category() const { return m_category; }

    // Whether `filter` narrows anything: it holds more than blanks and tabs.
    static bool filtering(const QString& filter);
    // "No images", or "No images match “ web ”" with the filter exactly as typed.
    static QString title(Category category, const QString& filter);
    static QString symbol(Category category, const QString& filter);
    // What stands in for the title while the store has no listing: "<runtime> is not answering" once a
    // refresh has failed, else "Waiting for <runtime>…". None once the runtimes in scope have answered.
    static std::optional<QString> unlisted(const AppStore& store);
    // The same for one runtime of the scope, while the listings do not hold it (AppStore::hasListed):
    // "<runtime> is not answering" once it failed to, else "Waiting for <runtime>…".
    static std::optional<QString> unlisted(const AppStore& store, const std::optional<Runtime>& runtime);

private:
    void follow();

    AppStore& m_store;
    Category m_category;
    SymbolView* m_icon;
    VoskLabel* m_title;
    VoskButton* m_clear;
    QPointer<QWidget> m_projectActions;
};
