#pragma once

#include <QString>
#include <QStringView>

// Takes out of a command's output what only a terminal acts on: CSI sequences (colours, "erase the
// line"), OSC and the other control strings (window titles, links), every other ESC sequence, and
// control characters other than line ends and tab. All other text passes as it came. Output arrives in
// pieces, so a sequence cut between two of them is remembered and still dropped whole.
class TerminalFilter {
public:
    // `text` without its terminal controls, given what the pieces before it left unfinished.
    QString filter(QStringView text);
    // Forgets a sequence left unfinished: what comes next starts as plain text.
    void reset() { m_state = State::text; }

private:
    enum class State {
        text,
        escape,             // after ESC
        escapeIntermediate, // ESC and intermediate bytes, waiting for the final one
        csi,                // parameters and intermediates, waiting for the final byte
        controlString,      // OSC, DCS, SOS, PM or APC, up to its terminator
    };

    // Whether the sequence under way took `c` (to go on or to end); false when `c` breaks it off and is
    // to be read as text. A line end or tab carried out inside a sequence goes to `out`.
    bool consume(QChar c, QString& out);

    State m_state = State::text;
};
