#pragma once

#include "engine/Container.h"
#include "engine/Runtime.h"

#include <QWidget>

#include <optional>

class VoskButton;
class VoskLabel;

// The red notice for a container that fails its health check or stopped with an error, with a
// "View logs" button. The notice only asks for the logs; the card that holds it opens the sheet, with
// the copy of the container the notice carried when it was pressed.
class TroubleNotice : public QWidget {
    Q_OBJECT

public:
    TroubleNotice(const Container& c, const std::optional<Runtime>& runtime, bool apple,
                  QWidget* parent = nullptr);

    void setContainer(const Container& c, const std::optional<Runtime>& runtime, bool apple);
    const Container& container() const { return m_container; }

    // "<label> is failing its health check" or "<label> stopped with an error".
    static QString message(const Container& c);

signals:
    void logsRequested(const Container& c, const std::optional<Runtime>& runtime, bool apple);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Container m_container;
    std::optional<Runtime> m_runtime;
    bool m_apple = false;
    VoskLabel* m_message;
    VoskButton* m_button;
};
