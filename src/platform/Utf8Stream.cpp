#include "platform/Utf8Stream.h"

#include <QStringDecoder>

namespace Platform {

namespace {

QString decodeLossy(QByteArrayView bytes)
{
    // Stateless: every call stands alone, and what cannot be decoded becomes U+FFFD. A byte order mark
    // in the middle of a stream is text like any other, so it is kept.
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

// How many bytes a sequence starting with `lead` has; 0 for a byte no sequence starts with.
int sequenceLength(uchar lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Where an unfinished sequence begins at the end of `bytes`, or its size when there is none.
qsizetype unfinishedFrom(QByteArrayView bytes)
{
    const qsizetype size = bytes.size();
    for (qsizetype i = size - 1; i >= 0 && i >= size - 3; --i) {
        const uchar byte = uchar(bytes[i]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for its lead
        const int length = sequenceLength(byte);
        return length > size - i ? i : size;
    }
    return size;
}

} // namespace

QString Utf8Stream::decode(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    QByteArray joined;
    if (!m_pending.isEmpty()) {
        joined = m_pending + bytes.toByteArray();
        bytes = joined;
    }
    const qsizetype cut = unfinishedFrom(bytes);
    QString text = decodeLossy(bytes.first(cut));
    m_pending = bytes.sliced(cut).toByteArray();
    return text;
}

QString Utf8Stream::finish()
{
    const QString rest = decodeLossy(m_pending);
    m_pending.clear();
    return rest;
}

} // namespace Platform
