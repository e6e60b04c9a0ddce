#pragma once

#include "app/design/VoskButtonStyle.h"

#include <QDialog>

class QHBoxLayout;
class QLineEdit;
class QVBoxLayout;
class VoskButton;

// A small window-modal question: a title, a message, optionally a text field, and buttons that each
// answer with their own code. Escape and the window's close button answer Rejected, as "Cancel" does.
// Return and Enter press the button that wears the focus ring, and in the field the default button;
// nowhere else do they press anything. It opens with the ring on the field, else on the default button,
// except a destructive one: then on the button that cancels. Open it with answerOf(), never exec(). The
// title is its heading and its accessible name, not its window's.
class Alert : public QDialog {
    Q_OBJECT

public:
    Alert(const QString& title, const QString& message, QWidget* parent);

    QLineEdit* addField(const QString& placeholder, const QString& objectName);
    // A button that closes the alert with `answer`. With `isDefault`, Return in the field presses it, and
    // the alert opens on it unless it is destructive.
    VoskButton* addButton(const QString& text, VoskButtonStyle::Variant variant, int answer,
                          const QString& objectName, bool isDefault = false);

    static constexpr int width = 320;

    // Takes the height its texts need at its width before it shows.
    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Where the focus and the ring are when the alert opens.
    QWidget* firstFocus() const;

    QVBoxLayout* m_column;
    QHBoxLayout* m_buttons;
    QLineEdit* m_field = nullptr;
    VoskButton* m_default = nullptr;
    VoskButton* m_cancel = nullptr;
    VoskButton* m_first = nullptr;
};
