#pragma once

#include <QList>
#include <QString>

#include <optional>

// The sections of the main window, in the sidebar's order. The raw value is the section's title and
// what the "category" preference stores.
enum class Category { projects, containers, images, volumes };

QString rawValue(Category category);
// The case whose raw value is exactly `raw` ("Images"); none for anything else, lower case included.
std::optional<Category> categoryFromRawValue(const QString& raw);
// The sidebar symbol of the section.
QString symbolName(Category category);
const QList<Category>& allCategories();
