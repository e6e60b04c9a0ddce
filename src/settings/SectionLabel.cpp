#include "settings/SectionLabel.h"

#include "app/design/Vosk.h"

SectionLabel::SectionLabel(const QString& text, QWidget* parent)
    : VoskLabel(text, TextStyles::sectionLabel, Vosk::muted, parent)
{
}

VoskLabel* noteLabel(const QString& text, QWidget* parent)
{
    auto* label = new VoskLabel(text, TextStyles::note, Vosk::muted, parent);
    label->setWordWrap(true);
    return label;
}
