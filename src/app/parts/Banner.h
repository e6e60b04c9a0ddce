#pragma once

#include <QWidget>

#include <optional>

class QVariantAnimation;
class SymbolView;
class Token;
class VoskButton;
class VoskLabel;
struct TextStyle;

// One strip across the top of a window's content (the main window's detail column, the Settings
// window): a symbol, a message and its buttons on a tinted fill with a hairline below. It slides in
// from the top and fades in when it gets a message, and out again when the message goes; setting the
// message it already shows does nothing.
class Banner : public QWidget {
    Q_OBJECT

public:
    struct Look {
        const char* symbol;
        const Token* iconInk;
        const TextStyle* face;
        const Token* messageInk;
        const Token* fill;
        const Token* line;
        bool alignTop;    // the row's items sit at the top (long messages) instead of the middle
        bool selectable;  // the message can be selected and copied
        int maximumLines; // 0: one line
    };

    Banner(const Look& look, QWidget* parent = nullptr);

    // The three strips with their buttons: the error and the notice with "dismissErrorButton" /
    // "dismissNoticeButton", the update offer with "updateInSettingsButton" and "dismissUpdateButton".
    // Whoever places one connects the buttons.
    static Banner* error(QWidget* parent);
    static Banner* notice(QWidget* parent);
    static Banner* update(QWidget* parent);

    VoskButton* addButton(const QString& text, int variant, const QString& objectName);
    // One of the buttons added, by object name; null when there is none of that name.
    VoskButton* button(const QString& objectName) const;

    // None hides the banner.
    void setMessage(const std::optional<QString>& message);
    const std::optional<QString>& message() const { return m_message; }
    QString shownText() const;
    // How far in it has come: 0 gone, 1 fully there, between while it moves.
    double shownFraction() const { return m_shown; }

    static constexpr int animationMillis = 300;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The strip's full height at `width`: its row and the hairline under it.
    int fullHeight(int width) const;
    void placeRow();
    void animateTo(double shown);
    void applyShown(double shown);

    Look m_look;
    std::optional<QString> m_message;
    QWidget* m_row;
    VoskLabel* m_text;
    QWidget* m_buttons;
    QVariantAnimation* m_animation;
    double m_shown = 0;
};
