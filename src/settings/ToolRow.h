#pragma once

#include "app/design/VoskButtonStyle.h"
#include "toolchain/Tool.h"
#include "toolchain/ToolJob.h"

#include <QWidget>

class Token;
class VoskBadge;
class VoskButton;
class VoskLabel;

// One runtime tool in the Settings window: its name, purpose and version, a badge that says how the
// version stands, and one button that asks for an install or update job or opens the tool's page.
class ToolRow : public QWidget {
    Q_OBJECT

public:
    enum class Action { install, update, releaseNotes, homepage };

    // What the row shows for a tool, worked out without a widget.
    struct Look {
        QString version;
        bool older = false; // installed and offered versions known, the installed one older
        QString badge;
        const Token* badgeFill = nullptr;
        const Token* badgeInk = nullptr;
        Action action = Action::homepage;
        QString actionTitle;
        VoskButtonStyle::Variant variant = VoskButtonStyle::Variant::ghost;
        QString help;
        bool enabled = true;
    };
    static Look lookOf(const Tool& tool, bool brewAvailable);

    ToolRow(const Tool& tool, bool brewAvailable, QWidget* parent = nullptr);

    const Tool& tool() const { return m_tool; }
    // Redraws for a newer reading of the same tool; nothing changes when the reading is the same.
    void setTool(const Tool& tool, bool brewAvailable);
    // Draws the rule that parts this row from the one above it.
    void setRuleAbove(bool rule);

signals:
    void jobRequested(const ToolJob& job);
    // The tool's page was asked for and the desktop could not open it; `message` says so.
    void openFailed(const QString& message);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void apply();
    void act();

    Tool m_tool;
    bool m_brewAvailable;
    bool m_ruleAbove = false;
    VoskLabel* m_name;
    VoskLabel* m_purpose;
    VoskLabel* m_version;
    VoskBadge* m_badge;
    VoskButton* m_button;
};
