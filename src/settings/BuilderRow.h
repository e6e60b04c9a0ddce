#pragma once

#include "app/design/VoskCard.h"
#include "toolchain/ServicesStatus.h"
#include "toolchain/ToolJob.h"

class Preferences;
class SizePicker;
class VoskBadge;
class VoskButton;
class VoskLabel;

// The card of Apple container's image builder: whether it exists and runs and what it uses, Start
// with the processors and memory kept in the preferences, Stop and Delete. The sizes are written
// only when the user picks one, and Start sends what is stored, also a size this machine no longer
// offers.
class BuilderRow : public VoskCard {
    Q_OBJECT

public:
    BuilderRow(const BuilderStatus& builder, Preferences& preferences, QWidget* parent = nullptr);

    const BuilderStatus& builder() const { return m_builder; }
    void setBuilder(const BuilderStatus& builder);

    // "4 CPUs · 4 GB" while the builder runs ("" when it says nothing of its size); none otherwise.
    static std::optional<QString> usingText(const BuilderStatus& builder);

signals:
    void jobRequested(const ToolJob& job);

private:
    void apply();

    BuilderStatus m_builder;
    Preferences& m_preferences;
    VoskLabel* m_using;
    VoskBadge* m_badge;
    VoskButton* m_stop;
    VoskButton* m_delete;
    VoskButton* m_start;
    QWidget* m_pickers;
    SizePicker* m_cpus;
    SizePicker* m_memory;
};
