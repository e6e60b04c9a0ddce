#include "app/design/VitalCaption.h"

#include "app/design/Vosk.h"

VitalCaption::VitalCaption(const QString& text, QWidget* parent)
    : VoskLabel(text, TextStyles::caption, Vosk::muted, parent)
{
    setElideMode(Qt::ElideMiddle);
    setToolTip(Vosk::toolTip(text));
}

void VitalCaption::setCaption(const QString& text)
{
    if (text == plainText())
        return;
    setPlainText(text);
    setToolTip(Vosk::toolTip(text));
}
