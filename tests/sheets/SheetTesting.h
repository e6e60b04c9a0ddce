#pragma once

// What the sheet tests share: a window to open sheets over, and finding a sheet's parts.

#include "app/design/VoskButton.h"
#include "sheets/ReclaimRow.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace SheetTesting {

// A shown top-level window, as the main window would be.
inline std::unique_ptr<QWidget> window()
{
    TestSupport::prepareWidgets();
    auto window = std::make_unique<QWidget>();
    window->resize(800, 600);
    window->show();
    return window;
}

template <typename T = VoskButton>
T* part(const QObject* in, const char* objectName)
{
    T* found = in->findChild<T*>(QString::fromLatin1(objectName));
    EXPECT_NE(found, nullptr) << "no " << objectName;
    return found;
}

// The reclaim row showing `name`, or null.
inline ReclaimRow* row(const QObject* in, const QString& name)
{
    for (ReclaimRow* candidate : in->findChildren<ReclaimRow*>())
        if (candidate->item().name == name && candidate->isVisibleTo(candidate->window()))
            return candidate;
    return nullptr;
}

inline void tick(const QObject* in, const QString& name)
{
    ReclaimRow* found = row(in, name);
    ASSERT_NE(found, nullptr) << "no row " << name.toStdString();
    found->click();
}

// The dialogs open over `over` now (sheets and alerts).
template <typename T = QDialog>
QList<T*> openDialogs(const QWidget* over)
{
    QList<T*> open;
    for (T* dialog : over->findChildren<T*>())
        if (dialog->isVisible())
            open << dialog;
    return open;
}

} // namespace SheetTesting
