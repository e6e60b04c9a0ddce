#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace Platform {

// Decodes UTF-8 that arrives in pieces: a character cut off at the end of one piece is kept until the
// next one completes it, and bytes that can never be UTF-8 become U+FFFD, so one bad byte never costs
// the text around it.
class Utf8Stream {
public:
    QString decode(QByteArrayView bytes);
    // What is still held back when the stream ends: an unfinished character, as U+FFFD.
    QString finish();

private:
    QByteArray m_pending; // at most three bytes of an unfinished character
};

} // namespace Platform
