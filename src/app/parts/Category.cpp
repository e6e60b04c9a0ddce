#include "app/parts/Category.h"

QString rawValue(Category category)
{
    switch (category) {
    case Category::projects:
        return QStringLiteral("Projects");
    case Category::containers:
        return QStringLiteral("Containers");
    case Category::images:
        return QStringLiteral("Images");
    case Category::volumes:
        return QStringLiteral("Volumes");
    }
    return QStringLiteral("Projects");
}

std::optional<Category> categoryFromRawValue(const QString& raw)
{
    for (Category category : allCategories()) {
        if (rawValue(category) == raw)
            return category;
    }
    return std::nullopt;
}

QString symbolName(Category category)
{
    switch (category) {
    case Category::projects:
        return QStringLiteral("square.stack.3d.up");
    case Category::containers:
        return QStringLiteral("shippingbox");
    case Category::images:
        return QStringLiteral("opticaldisc");
    case Category::volumes:
        return QStringLiteral("externaldrive");
    }
    return {};
}

const QList<Category>& allCategories()
{
    static const QList<Category> all{Category::projects, Category::containers, Category::images,
                                     Category::volumes};
    return all;
}
