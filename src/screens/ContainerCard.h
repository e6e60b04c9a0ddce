#pragma once

#include "app/design/VoskCard.h"
#include "engine/Container.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class AddressPill;
class AppStore;
class ContainerMenu;
class FlowLayout;
class IPPill;
class StatStrip;
class Token;
class VoskBadge;
class VoskButton;
class VoskLabel;

// One container on a card: its name, state, project and image, published ports and address, live
// figures and the buttons that act on it, with its menu. The card keeps a copy of its container and
// redraws in place when given a newer one; what did not change is not touched, so an open menu, focus
// and tooltips survive the poll.
class ContainerCard : public VoskCard {
    Q_OBJECT

public:
    // Everything the card shows, derived from the container and the store's figures.
    struct Face {
        enum class State { unhealthy, failed, plain };

        QString title;
        QString detail;
        bool troubled = false;
        State state = State::plain;
        bool dotFilled = false;
        const Token* dot = nullptr; // filled dots only
        QString stateLabel;
        bool stateSuccess = false; // the label in the success colour, else muted
        QString statusText;
        QStringList ports;
        bool live = false; // ports answer
        std::optional<QString> ip;
        std::optional<QString> cpu;
        std::optional<QString> memory;
        std::optional<QString> disk;
        QString stateButton;
        bool restartEnabled = false;

        bool operator==(const Face&) const = default;
    };

    static Face face(const AppStore& store, const Container& c, bool inProject);
    // What keeps a card across refreshes: the runtime's name and the container's identifier. Two
    // contexts on one engine list the same identifier, each for a container of its own.
    static QString key(const Container& c);

    ContainerCard(AppStore& store, const Container& c, bool inProject, QWidget* parent = nullptr);

    // Shows `c` (the same container, listed anew) with the store's present figures.
    void setContainer(const Container& c);
    // Re-reads the store's figures for the container shown.
    void refresh() { setContainer(m_container); }

    const Container& container() const { return m_container; }
    const Face& shown() const { return m_face; }
    ContainerMenu* menu() const { return m_menu; }

private:
    void apply(const Face& face);
    void placePills(const Face& face);
    void pressState();
    void openLogs();

    AppStore& m_store;
    Container m_container;
    bool m_inProject;
    Face m_face;
    bool m_applied = false;

    VoskLabel* m_title;
    VoskBadge* m_badge;
    QWidget* m_plainState;
    QWidget* m_dot;
    VoskLabel* m_stateLabel;
    VoskLabel* m_detail;
    FlowLayout* m_flow;
    VoskLabel* m_status;
    QList<AddressPill*> m_pills;
    IPPill* m_ip = nullptr;
    StatStrip* m_figures;
    VoskButton* m_stateButton;
    VoskButton* m_restart;
    VoskButton* m_logs;
    ContainerMenu* m_menu;
};
