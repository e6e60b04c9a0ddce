#pragma once

#include "app/design/VoskButtonStyle.h"

#include <QDialog>

class QHBoxLayout;
class QLineEdit;
class QVBoxLayout;
class VoskButton;

// A small window-modal question: a title, a message, optionally a text field, and buttons that each
// answer with their own code. Escape and the window's close button answer Rejected, as "Cancel" does.
// Return presses the default button. Open it with answerOf(), never exec(). The title is its heading
// and its accessible name, not its window's.
class Alert : public QDialog {
    Q_OBJECT

public:
    Alert(const QString& title, const QString& message, QWidget* parent);

    QLineEdit* addField(const QString& placeholder, const QString& objectName);
    // A button that closes the alert with `answer`. With `isDefault`, Return presses it.
    VoskButton* addButton(const QString& text, VoskButtonStyle::Variant variant, int answer,
                          const QString& objectName, bool isDefault = false);

    static constexpr int width = 320;

    // Takes the height its texts need at its width before it shows.
    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QVBoxLayout* m_column;
    QHBoxLayout* m_buttons;
    VoskButton* m_default = nullptr;
};
