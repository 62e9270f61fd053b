#include "shoutcasthandshake.h"

namespace {

// The longest first line of an answer worth waiting for.
constexpr int longestAnswerLine = 256;

// A line break inside a value would end its header, or the password's line,
// and let the rest pass for headers of its own.
QByteArray oneLine(const QString &text)
{
    QByteArray line = text.toUtf8();
    line.replace('\r', ' ').replace('\n', ' ');
    return line;
}

} // namespace

QByteArray shoutcastPasswordLine(const QString &password)
{
    return oneLine(password) + "\r\n";
}

QByteArray shoutcastHeaders(const ShoutcastStream &stream)
{
    return "icy-name:" + oneLine(stream.name) + "\r\nicy-genre:" + oneLine(stream.genre) + "\r\nicy-url:"
        + oneLine(stream.url) + "\r\nicy-description:" + oneLine(stream.description)
        + "\r\nicy-br:" + QByteArray::number(stream.bitsPerSecond / 1000) + "\r\nicy-pub:0\r\ncontent-type:"
        + oneLine(stream.contentType) + "\r\n\r\n";
}

ShoutcastAnswer readShoutcastAnswer(const QByteArray &received)
{
    const int lineEnd = received.indexOf('\n');
    if (lineEnd < 0)
        return received.size() > longestAnswerLine ? ShoutcastAnswer::Refused : ShoutcastAnswer::Incomplete;
    const QByteArray line = received.left(lineEnd).trimmed();
    return line == "OK2" || line == "OK" ? ShoutcastAnswer::Accepted : ShoutcastAnswer::Refused;
}
