#include "settings/SectionLabel.h"

#include "app/design/Vosk.h"

#include <QPainter>

namespace {

class Rule : public QWidget {
public:
    explicit Rule(QWidget* parent) : QWidget(parent)
    {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Vosk::line.color()); }
};

} // namespace

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

QWidget* lineDivider(QWidget* parent)
{
    return new Rule(parent);
}
