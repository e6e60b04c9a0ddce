#pragma once

#include "app/design/KeyedRows.h"
#include "app/design/VoskCard.h"
#include "engine/ComposeProject.h"
#include "screens/ProjectFolder.h"

#include <QPointer>

#include <optional>

class AddressPill;
class AppStore;
class ContainerChip;
class FlowLayout;
class ProjectControls;
class ProjectHeading;
class QVBoxLayout;
class StatStrip;
class TroubleNotice;
class VoskButton;

// One project of the "Your projects" grid: how much of it runs and in what state, its containers as
// chips, the first one in trouble, what it uses, and its controls, with "Details" to open it. Kept by
// project id across refreshes; a refresh updates it in place with the folder as the screen looked at
// it once for that refresh.
class ProjectCard : public VoskCard {
    Q_OBJECT

public:
    ProjectCard(AppStore& store, const ComposeProject& project, const ProjectFolder& folder, bool emphasize,
                QWidget* parent = nullptr);

    void setProject(const ComposeProject& project, const ProjectFolder& folder, bool emphasize);
    // Whether the card was last given exactly this; then only the figures can have moved.
    bool shows(const ComposeProject& project, const ProjectFolder& folder, bool emphasize) const;
    // Shows the store's present statistics and disk use, touching nothing whose figure stayed.
    void showFigures();
    // Takes `project` when it differs from the shown one only in its containers' status texts ("Up 5
    // seconds", "Up 7 seconds") and in nothing those texts decide: the chips take the new texts, the
    // rest of the card stays as drawn. False, taking nothing, for any other difference.
    bool takeStatuses(const ComposeProject& project, const ProjectFolder& folder, bool emphasize);

    const ComposeProject& project() const { return m_project; }
    ProjectControls* controls() const { return m_controls; }

    // The one published port of the project's running containers; none for no port or for several.
    static std::optional<QString> address(const ComposeProject& project);

signals:
    // "Details" was pressed.
    void opened(const ComposeProject& project);

private:
    void apply();
    void openLogs(const Container& c, const std::optional<Runtime>& runtime, bool apple);

    AppStore& m_store;
    ComposeProject m_project;
    ProjectFolder m_folder;
    bool m_emphasize = false;

    ProjectHeading* m_heading;
    QWidget* m_chips;
    FlowLayout* m_chipFlow;
    std::unique_ptr<KeyedRows<Container, ContainerChip, FlowLayout>> m_chipRows;
    QPointer<AddressPill> m_address;
    QVBoxLayout* m_troubleBox;
    QPointer<TroubleNotice> m_trouble;
    struct Figures {
        std::optional<QString> cpu;
        std::optional<QString> memory;
        std::optional<QString> disk;

        bool operator==(const Figures&) const = default;
    };
    struct Measured {
        std::optional<double> cpu;
        std::optional<qint64> memory;
        std::optional<qint64> disk;

        bool operator==(const Measured&) const = default;
    };
    StatStrip* m_figures;
    std::optional<Measured> m_measured;
    std::optional<Figures> m_figuresShown;
    ProjectControls* m_controls;
};
