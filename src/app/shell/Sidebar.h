#pragma once

#include "app/parts/Category.h"

#include <QList>
#include <QWidget>

#include <optional>

class AppStore;
class ChangeBatch;
class NavItem;

// The main window's left column: the "Library" heading and one entry per section with its count.
// Counts follow the store (the containers, images and volumes counts follow the filter too), and
// there are none until the runtimes in scope have answered a listing; several store changes in one
// turn of the event loop recount once.
class Sidebar : public QWidget {
    Q_OBJECT

public:
    Sidebar(AppStore& store, Category category, QWidget* parent = nullptr);

    Category category() const { return m_category; }
    void setCategory(Category category);
    NavItem* item(Category category) const;

    // The number shown beside a section.
    static std::optional<qsizetype> count(const AppStore& store, Category category);

signals:
    // The user chose a section.
    void chosen(Category category);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void recount();

    AppStore& m_store;
    Category m_category;
    QList<NavItem*> m_items;
    ChangeBatch* m_changes;
};
