#include "settings/BuilderRow.h"

#include "app/design/Vosk.h"
#include "app/design/VoskBadge.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Preferences.h"
#include "engine/Stats.h"
#include "settings/CardHeading.h"
#include "settings/SizeChoices.h"
#include "settings/SizePicker.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

BuilderRow::BuilderRow(const BuilderStatus& builder, Preferences& preferences, QWidget* parent)
    : VoskCard(parent), m_builder(builder), m_preferences(preferences)
{
    setObjectName(QStringLiteral("builderRow"));
    const CardHeading heading = CardHeading::build(
        this, QStringLiteral("Image builder"),
        QStringLiteral("Builds images on Apple container. It is a container of its own and keeps its memory "
                       "until stopped."),
        QStringLiteral("builder"));
    m_using = heading.size;
    m_badge = heading.badge;

    using Variant = VoskButtonStyle::Variant;
    m_stop = new VoskButton(QStringLiteral("Stop"), Variant::quiet, std::nullopt, this);
    m_stop->setObjectName(QStringLiteral("builderStopButton"));
    m_delete = new VoskButton(QStringLiteral("Delete"), Variant::ghost, std::nullopt, this);
    m_delete->setObjectName(QStringLiteral("builderDeleteButton"));
    m_delete->setToolTip(QStringLiteral("Removes the stopped builder. Start creates a new one."));
    m_start = new VoskButton(QStringLiteral("Start"), Variant::quiet, std::nullopt, this);
    m_start->setObjectName(QStringLiteral("builderStartButton"));
    m_start->setToolTip(QStringLiteral("The first start downloads the builder image"));
    for (VoskButton* button : {m_stop, m_delete, m_start})
        heading.row->addWidget(button, 0, Qt::AlignTop);

    m_pickers = new QWidget(this);
    auto* pickers = new QHBoxLayout(m_pickers);
    pickers->setContentsMargins(0, 0, 0, 0);
    pickers->setSpacing(10);
    m_cpus = new SizePicker(QStringLiteral("CPUs"), QStringLiteral("Default"), QString(),
                            SizeChoices::processors(Docker::cores()), m_pickers);
    m_cpus->box()->setObjectName(QStringLiteral("builderCPUsPicker"));
    m_memory = new SizePicker(QStringLiteral("Memory"), QStringLiteral("Default"), QStringLiteral("GB"),
                              SizeChoices::memory(Docker::physicalMemory()), m_pickers);
    m_memory->box()->setObjectName(QStringLiteral("builderMemoryPicker"));
    pickers->addWidget(m_cpus);
    pickers->addWidget(m_memory);
    pickers->addStretch(1);
    heading.column->addWidget(m_pickers);

    m_cpus->setValue(m_preferences.builderCPUs());
    m_memory->setValue(m_preferences.builderMemoryGB());
    connect(m_cpus, &SizePicker::chosen, this, [this](int cpus) { m_preferences.setBuilderCPUs(cpus); });
    connect(m_memory, &SizePicker::chosen, this,
            [this](int gigabytes) { m_preferences.setBuilderMemoryGB(gigabytes); });
    connect(&m_preferences, &Preferences::builderCPUsChanged, this,
            [this] { m_cpus->setValue(m_preferences.builderCPUs()); });
    connect(&m_preferences, &Preferences::builderMemoryGBChanged, this,
            [this] { m_memory->setValue(m_preferences.builderMemoryGB()); });

    connect(m_stop, &VoskButton::clicked, this, [this] { emit jobRequested(ToolJob::builderStop()); });
    connect(m_delete, &VoskButton::clicked, this, [this] { emit jobRequested(ToolJob::builderDelete()); });
    // What is stored, not what the picker shows: the two agree, and a size kept from a larger machine
    // goes out as it was chosen.
    connect(m_start, &VoskButton::clicked, this, [this] {
        emit jobRequested(ToolJob::builderStart(SizeChoices::option(m_preferences.builderCPUs()),
                                                SizeChoices::option(m_preferences.builderMemoryGB())));
    });

    apply();
}

std::optional<QString> BuilderRow::usingText(const BuilderStatus& builder)
{
    if (!builder.running)
        return std::nullopt;
    return SizeChoices::describe(builder.cpus, builder.memoryBytes);
}

void BuilderRow::setBuilder(const BuilderStatus& builder)
{
    if (builder == m_builder)
        return;
    m_builder = builder;
    apply();
}

void BuilderRow::apply()
{
    const std::optional<QString> using_ = usingText(m_builder);
    m_using->setPlainText(using_.value_or(QString()));
    m_using->setVisible(using_.has_value() && !using_->isEmpty());
    if (m_builder.running) {
        m_badge->setText(QStringLiteral("running"));
        m_badge->setColors(Vosk::pillFill, Vosk::success);
    } else {
        m_badge->setText(m_builder.exists ? QStringLiteral("stopped") : QStringLiteral("not started"));
        m_badge->setColors(Vosk::pillFill, Vosk::pillInk);
    }
    m_stop->setVisible(m_builder.running);
    m_delete->setVisible(!m_builder.running && m_builder.exists);
    m_start->setVisible(!m_builder.running);
    m_pickers->setVisible(!m_builder.running);
}
