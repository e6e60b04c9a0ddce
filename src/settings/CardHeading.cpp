#include "settings/CardHeading.h"

#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskBadge.h"
#include "app/design/VoskLabel.h"
#include "settings/SectionLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

CardHeading CardHeading::build(QWidget* card, const QString& title, const QString& explanation,
                               const QString& prefix)
{
    CardHeading heading{};
    heading.column = new QVBoxLayout(card);
    heading.column->setContentsMargins(14, 11, 14, 11);
    heading.column->setSpacing(10);

    heading.row = new QHBoxLayout;
    heading.row->setSpacing(12);
    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    heading.title = new VoskLabel(title, TextStyles::rowTitle, Vosk::ink, card);
    heading.explanation = noteLabel(explanation, card);
    text->addWidget(heading.title);
    text->addWidget(heading.explanation);
    auto* state = new QHBoxLayout;
    state->setContentsMargins(0, 1, 0, 0);
    state->setSpacing(6);
    heading.size = new VoskLabel(QString(), TextStyles::mono, Vosk::muted, card);
    heading.size->setObjectName(prefix + QStringLiteral("SizeLabel"));
    heading.size->hide();
    heading.badge = new VoskBadge(QString(), Vosk::pillFill, Vosk::pillInk, card);
    heading.badge->setObjectName(prefix + QStringLiteral("Badge"));
    state->addWidget(heading.size);
    state->addWidget(heading.badge);
    state->addStretch(1);
    text->addLayout(state);
    heading.row->addLayout(text, 1);
    heading.row->addSpacing(6);
    heading.column->addLayout(heading.row);
    return heading;
}
