#include "app/design/Eyebrow.h"

#include "app/design/Vosk.h"

Eyebrow::Eyebrow(const QString& text, QWidget* parent)
    : VoskLabel(text, TextStyles::eyebrow, Vosk::muted, parent)
{
}
