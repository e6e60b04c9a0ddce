#pragma once

#include "app/design/VoskLabel.h"

// The small capital caption over a section: JetBrains Mono medium 10.5, tracked, muted.
class Eyebrow : public VoskLabel {
    Q_OBJECT

public:
    explicit Eyebrow(const QString& text, QWidget* parent = nullptr);
};
