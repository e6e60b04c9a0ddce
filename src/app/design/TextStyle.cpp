#include "app/design/TextStyle.h"

#include "app/design/Vosk.h"

QFont TextStyle::font() const
{
    const QString name = QString::fromLatin1(face);
    QFont result = weight == 0 ? Vosk::named(name, size) : Vosk::varied(name, weight, size);
    if (tracking != 0)
        result.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return result;
}

QString TextStyle::display(const QString& text) const
{
    return upperCase ? text.toUpper() : text;
}

TextStyle TextStyle::scaled(double factor) const
{
    TextStyle result = *this;
    result.size = size * factor;
    result.tracking = tracking * factor;
    return result;
}
