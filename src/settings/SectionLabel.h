#pragma once

#include "app/design/VoskLabel.h"

// The capital caption over a part of the Settings window: "APPEARANCE", "RUNTIME TOOLS".
class SectionLabel : public VoskLabel {
    Q_OBJECT

public:
    explicit SectionLabel(const QString& text, QWidget* parent = nullptr);
};

// A muted explanation under a control, wrapping over as many lines as it needs.
VoskLabel* noteLabel(const QString& text, QWidget* parent = nullptr);
