#pragma once

#include "app/design/VoskLabel.h"

// The one-line footer under a vital figure: muted caption text, cut in the middle when too long,
// with the whole text as its tooltip.
class VitalCaption : public VoskLabel {
    Q_OBJECT

public:
    explicit VitalCaption(const QString& text, QWidget* parent = nullptr);

    void setCaption(const QString& text);
};
