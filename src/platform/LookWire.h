#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QHash>
#include <QIODevice>
#include <QList>

#include <functional>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

// How a look at the disk travels to the look server (voskel-look) and back: an operation's name and its
// arguments, copied into bytes, and the plain value it gives. The server runs the operation's function
// on its own side; the application never does.
namespace Platform {

namespace Wire {

inline constexpr QDataStream::Version version = QDataStream::Qt_6_4;

// Plain values go as QDataStream writes them; std::optional and the records below are added here.
template <typename T>
void put(QDataStream& out, const T& value)
{
    out << value;
}
template <typename T>
void get(QDataStream& in, T& value)
{
    in >> value;
}

template <typename T>
void put(QDataStream& out, const std::optional<T>& value)
{
    out << value.has_value();
    if (value)
        put(out, *value);
}
template <typename T>
void get(QDataStream& in, std::optional<T>& value)
{
    bool has = false;
    in >> has;
    value.reset();
    if (has)
        get(in, value.emplace());
}

template <typename T>
void put(QDataStream& out, const QList<T>& list)
{
    out << quint32(list.size());
    for (const T& item : list)
        put(out, item);
}
template <typename T>
void get(QDataStream& in, QList<T>& list)
{
    quint32 size = 0;
    in >> size;
    list.clear();
    // Read one by one rather than reserved: a size that lies runs out of bytes, not of memory.
    for (quint32 i = 0; i < size && in.status() == QDataStream::Ok; ++i)
        get(in, list.emplace_back());
}

// Several values in a row: a record's fields, in its streaming operators.
template <typename... T>
QDataStream& putAll(QDataStream& out, const T&... values)
{
    (put(out, values), ...);
    return out;
}
template <typename... T>
QDataStream& getAll(QDataStream& in, T&... values)
{
    (get(in, values), ...);
    return in;
}

template <typename... T>
QByteArray encoded(const T&... values)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(version);
    putAll(out, values...);
    return bytes;
}

// The value `bytes` hold; none when they hold something else, or more.
template <typename T>
std::optional<T> decoded(const QByteArray& bytes)
{
    QDataStream in(bytes);
    in.setVersion(version);
    T value{};
    get(in, value);
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return std::nullopt;
    return value;
}

} // namespace Wire

// Each message between the application and a look server is this many bytes of length, big-endian,
// then the message. A longer one is taken for a broken server.
inline constexpr qsizetype frameHeader = 4;
inline constexpr qsizetype largestFrame = 64 * 1024 * 1024;

// `message` as it travels: its length first.
inline QByteArray framed(const QByteArray& message)
{
    const quint32 size = quint32(message.size());
    const char header[frameHeader] = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
    return QByteArray(header, frameHeader) + message;
}

// The length of the message whose frameHeader bytes start at `header`.
inline qsizetype frameLength(const char* header)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(header);
    return qsizetype(bytes[0]) << 24 | qsizetype(bytes[1]) << 16 | qsizetype(bytes[2]) << 8 |
           qsizetype(bytes[3]);
}

// What a server answers besides the result.
enum class LookOutcome : quint8 { answered, unknownOperation, unreadable, failed };
// Set beside the outcome by a server that asks not to be used again: what it holds after the look is
// more than a server kept for later looks should.
inline constexpr quint8 serverSpent = 0x80;

// One look to make, as it is sent: the operation's name and its arguments, already copied. `R` is what
// it gives back.
template <typename R>
struct LookRequest {
    const char* operation = nullptr;
    QByteArray arguments;
    // A change on the disk (a move to the Trash, a new folder) rather than a look: the way out waits for
    // it as for any other work it cannot end, instead of giving it up at once.
    bool change = false;
    // Runs in this process, on the thread that sends the look, just before: where a test stalls it as a
    // mount that stalls would. Nothing outside tests.
    std::function<void()> beforeLook = {};
};

// An operation of the look server: its name on the wire and the plain function that makes it there.
// Calling it with the function's arguments makes the request that asks the server for it.
template <typename Signature>
struct LookOperation;

template <typename R, typename... Args>
struct LookOperation<R(Args...)> {
    const char* name;
    R (*run)(Args...);
    bool change = false;

    LookRequest<R> operator()(const std::decay_t<Args>&... arguments) const
    {
        return LookRequest<R>{name, Wire::encoded(arguments...), change};
    }
};

// What the server does with one request of an operation: reads the arguments from `in` and writes the
// result to `out`; false when the arguments did not read.
using LookHandler = std::function<bool(QDataStream& in, QDataStream& out)>;
using LookTable = QHash<QByteArray, LookHandler>;

// The server's side of `operation`, for its table.
template <typename R, typename... Args>
std::pair<QByteArray, LookHandler> served(const LookOperation<R(Args...)>& operation)
{
    return {QByteArray(operation.name), [run = operation.run](QDataStream& in, QDataStream& out) {
                std::tuple<std::decay_t<Args>...> arguments;
                std::apply([&in](auto&... each) { Wire::getAll(in, each...); }, arguments);
                if (in.status() != QDataStream::Ok || !in.atEnd())
                    return false;
                Wire::put(out, std::apply(run, arguments));
                return true;
            }};
}

// The look server's whole life: makes the process one that nothing of the application's session can
// reach or be held by (a session of its own, no descriptor but its two pipes, the root as its folder,
// killed when the thread that started it goes), then serves the looks of `table` on standard input and
// output, one at a time, until standard input ends. After each look `spent` (may be empty) says whether
// the server should not be used again. Returns the exit status.
//   voskel-look --parent PID
int runLookServer(int argc, char** argv, const LookTable& table, const std::function<bool()>& spent = {});

} // namespace Platform
