#include "app/parts/Alert.h"

#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>

Alert::Alert(const QString& title, const QString& message, QWidget* parent) : QDialog(parent)
{
    // The heading asks the question in full. A title bar of the alert's width would cut it, and so
    // holds only the application's name, which a window without a title of its own gets.
    setAccessibleName(title);
    setFixedWidth(width);
    m_column = new QVBoxLayout(this);
    m_column->setContentsMargins(20, 20, 20, 16);
    m_column->setSpacing(10);
    auto* heading = new VoskLabel(title, TextStyles::rowTitle, Vosk::ink, this);
    // Titles and messages name containers, images and files, whose names can outrun the alert's width.
    heading->setBreakLongRuns(true);
    heading->setObjectName(QStringLiteral("alertTitle"));
    m_column->addWidget(heading);
    if (!message.isEmpty()) {
        auto* text = new VoskLabel(message, TextStyles::caption, Vosk::muted, this);
        text->setBreakLongRuns(true);
        text->setObjectName(QStringLiteral("alertMessage"));
        m_column->addWidget(text);
    }
    m_buttons = new QHBoxLayout;
    m_buttons->setSpacing(8);
    m_buttons->addStretch(1);
    m_column->addSpacing(6);
    m_column->addLayout(m_buttons);
}

void Alert::setVisible(bool visible)
{
    // The width is the alert's own; wrapped texts take the lines they need at it. Sized to its
    // layout's hint instead, the alert would grow as wide as a long name in its title.
    if (visible) {
        const int height = heightForWidth(width);
        setFixedHeight(height > 0 ? height : sizeHint().height());
    }
    QDialog::setVisible(visible);
}

QLineEdit* Alert::addField(const QString& placeholder, const QString& objectName)
{
    auto* field = new QLineEdit(this);
    field->setObjectName(objectName);
    field->setPlaceholderText(placeholder);
    field->setFont(TextStyles::monoField.font());
    // Before the spacing and the buttons, after the texts.
    m_column->insertWidget(m_column->count() - 2, field);
    // Return in it is the alert's to handle (keyPressEvent): the field passes the key on after its own
    // returnPressed, and pressing the default button from both would answer twice.
    m_field = field;
    field->setFocus();
    return field;
}

VoskButton* Alert::addButton(const QString& text, VoskButtonStyle::Variant variant, int answer,
                             const QString& objectName, bool isDefault)
{
    auto* button = new VoskButton(text, variant, 64, this);
    button->setObjectName(objectName);
    m_buttons->addWidget(button);
    connect(button, &QAbstractButton::clicked, this, [this, answer] { done(answer); });
    if (isDefault)
        m_default = button;
    if (answer == QDialog::Rejected && !m_cancel)
        m_cancel = button;
    if (!m_first)
        m_first = button;
    return button;
}

QWidget* Alert::firstFocus() const
{
    if (m_field)
        return m_field;
    if (m_default && m_default->buttonStyle().variant != VoskButtonStyle::Variant::danger)
        return m_default;
    // A destructive answer is never the one a Return pressed without a look gives.
    if (m_cancel)
        return m_cancel;
    return m_first;
}

void Alert::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QWidget* first = firstFocus()) {
        first->setFocus(Qt::OtherFocusReason);
        // The ring shows where Return goes from the moment the alert opens, not only after a Tab.
        setAttribute(Qt::WA_KeyboardFocusChange);
        first->update();
    }
}

void Alert::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // A focused button takes the key itself. Here only the field's Return presses anything, and a
        // key held down since before the alert opened presses nothing at all.
        if (!event->isAutoRepeat() && m_field && focusWidget() == m_field && m_default &&
            m_default->isEnabled() && isVisible())
            m_default->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
