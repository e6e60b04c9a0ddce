#pragma once

#include "app/design/KeyedRows.h"
#include "engine/Container.h"

#include <QWidget>

#include <memory>

class AppStore;
class BusyIndicator;
class ChangeBatch;
class QScrollArea;
class RuntimePicker;
class ToolchainStore;
class VoskLabel;

// The tray panel, 320 pixels wide: the runtime picker with the running count, the update row while
// updates are pending, every project of the scope with its containers, the containers of no project
// under "Other", and "Open Voskel" and "Quit". Lines are kept by key across polls.
class MenuBarView : public QWidget {
    Q_OBJECT

public:
    MenuBarView(AppStore& store, ToolchainStore& toolchain, QWidget* parent = nullptr);
    ~MenuBarView() override;

    // One line of the list: a group's header or one of its containers.
    struct Line {
        enum class Kind { header, container };
        Kind kind = Kind::header;
        QString key;
        QString title;  // header: the group's name
        QString counts; // header: "running/total" ("—/total" while not known); empty for "Other"
        Container container;

        bool operator==(const Line&) const = default;
    };
    // The list as the panel shows it: each project of the scope with its containers, then "Other".
    static QList<Line> lines(const AppStore& store);
    // "running/total" of the header row: the running containers of the scope and all of them.
    static QString runningText(const AppStore& store);

    static constexpr int panelWidth = 320;
    static constexpr int listMaximumHeight = 320;

signals:
    void openRequested();
    void settingsRequested();
    void quitRequested();

private:
    void follow();
    void followUpdates();

    AppStore& m_store;
    ToolchainStore& m_toolchain;
    BusyIndicator* m_busy;
    QWidget* m_dot;
    VoskLabel* m_counter;
    QWidget* m_updateRow;
    VoskLabel* m_updateText;
    QScrollArea* m_scroll;
    QWidget* m_list;
    VoskLabel* m_nothing;
    std::unique_ptr<KeyedRows<Line, QWidget>> m_lines;
    ChangeBatch* m_changes;
};
