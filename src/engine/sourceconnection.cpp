#include "sourceconnection.h"

#include "ffmpegerror.h"
#include "icecasturl.h"
#include "player.h"
#include "shoutcasthandshake.h"
#include "streamcontext.h"
#include "trustbundle.h"

#include <QTemporaryFile>
#include <QUrl>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avio.h>
#include <libavutil/dict.h>
}

namespace {

// FFmpeg's icecast protocol does not hand the interrupt callback on to the
// connection beneath it, so a server that stops answering would block the run
// for ever: it could not be stopped, nor its Player destroyed. The I/O time-out
// is copied down to the connection and bounds every connect, read and write;
// the https protocol gets it too, and passes the interrupt callback on as well.
// Hence a stop cuts a try to reconnect short over https at once, over http
// only once this time-out ends a connect that the network does not answer.
constexpr const char *connectionTimeoutMicroseconds = "10000000";

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

AVDictionary *icecastOptions(const StreamSettings &stream)
{
    AVDictionary *options = nullptr;
    av_dict_set(&options, "content_type", stream.codec.contentType, 0);
    av_dict_set(&options, "ice_genre", utf8(stream.genre).constData(), 0);
    av_dict_set(&options, "ice_name", utf8(stream.name).constData(), 0);
    av_dict_set(&options, "ice_description", utf8(stream.description).constData(), 0);
    av_dict_set(&options, "ice_url", utf8(stream.url).constData(), 0);
    av_dict_set(&options, "rw_timeout", connectionTimeoutMicroseconds, 0);
    return options;
}

// The header lines that the icecast protocol adds to its request; it leaves
// out the empty fields.
QByteArray iceHeaders(const StreamSettings &stream)
{
    QByteArray headers;
    const auto add = [&headers](const char *name, const QString &value) {
        if (!value.isEmpty())
            headers += QByteArray(name) + ": " + utf8(value) + "\r\n";
    };
    add("Ice-Name", stream.name);
    add("Ice-Description", stream.description);
    add("Ice-URL", stream.url);
    add("Ice-Genre", stream.genre);
    add("Ice-Public", QStringLiteral("0"));
    return headers;
}

// FFmpeg's https protocol acting as the icecast protocol does, so that the
// server and its listeners see the same stream. Without chunked_post=0 the
// chunk framing would reach the listeners inside the MP3; Expect: 100-continue
// lets the server refuse the source before any audio is sent.
AVDictionary *verifiedHttpsOptions(const StreamSettings &stream, const QString &caFile)
{
    AVDictionary *options = nullptr;
    av_dict_set(&options, "method", "PUT", 0);
    av_dict_set(&options, "auth_type", "basic", 0);
    av_dict_set(&options, "content_type", stream.codec.contentType, 0);
    av_dict_set(&options, "headers", iceHeaders(stream).constData(), 0);
    av_dict_set(&options, "chunked_post", "0", 0);
    av_dict_set(&options, "send_expect_100", "1", 0);
    av_dict_set(&options, "tls_verify", "1", 0);
    if (!caFile.isEmpty())
        av_dict_set(&options, "ca_file", utf8(caFile).constData(), 0);
    av_dict_set(&options, "rw_timeout", connectionTimeoutMicroseconds, 0);
    return options;
}

int openConnection(StreamContext &context, AVIOContext **connection, const QString &address,
                   AVDictionary *options)
{
    const AVIOInterruptCB interrupt{interruptStream, &context};
    const int result = avio_open2(connection, utf8(address).constData(), AVIO_FLAG_WRITE, &interrupt, &options);
    av_dict_free(&options);
    if (result < 0)
        reportConnectionFailure(context, ConnectionStep::Connect,
                                QStringLiteral("Could not open output ")
                                    + withHiddenPassword(context.settings.outputUrl()),
                                result);
    return result;
}

// The icecast protocol neither verifies the server's certificate nor passes
// TLS options down to its TLS layer, hence the https protocol. That layer
// trusts either the system's authorities or one given file, so a certificate
// file goes into a bundle with the system's authorities.
int openVerifiedConnection(StreamContext &context, AVIOContext **connection)
{
    const QString certificateFile = context.settings.certificateFile;
    QTemporaryFile trustBundle;
    QString caFile;
    if (!certificateFile.isEmpty()) {
        const int result = writeTrustBundle(certificateFile, trustBundle);
        if (result < 0) {
            context.owner->reportStreamError(
                context.index,
                withFFmpegError(QStringLiteral("Could not load certificate file ") + certificateFile + QLatin1Char(' '),
                                result));
            return result;
        }
        caFile = trustBundle.fileName();
    }
    return openConnection(context, connection, withHttpsScheme(context.settings.outputUrl()),
                          verifiedHttpsOptions(context.settings, caFile));
}

// Sends all of data; 0 or the connection's error.
int sendAll(AVIOContext *connection, const QByteArray &data)
{
    avio_write(connection, reinterpret_cast<const unsigned char *>(data.constData()), int(data.size()));
    avio_flush(connection);
    return connection->error;
}

// The password, the server's answer, and the stream's headers. A refused
// password is never tried again; a connection closed without a word may be
// a network's doing (Icecast answers a wrong password so too), and is.
int shakeHandsAsShoutcastSource(StreamContext &context, AVIOContext *connection, const QString &address)
{
    const StreamSettings &settings = context.settings;
    int result = sendAll(connection, shoutcastPasswordLine(settings.password));
    QByteArray answer;
    ShoutcastAnswer read = ShoutcastAnswer::Incomplete;
    while (result >= 0 && (read = readShoutcastAnswer(answer)) == ShoutcastAnswer::Incomplete) {
        unsigned char received[256];
        result = avio_read_partial(connection, received, int(sizeof received));
        if (result == 0)
            result = AVERROR_EOF;
        if (result > 0)
            answer.append(reinterpret_cast<const char *>(received), result);
    }
    if (read == ShoutcastAnswer::Refused) {
        result = AVERROR(EACCES);
        reportConnectionFailure(context, ConnectionStep::Connect, QStringLiteral("The server refused the password"),
                                result);
        return result;
    }
    if (result == AVERROR_EOF) {
        reportConnectionFailure(context, ConnectionStep::Connect,
                                QStringLiteral("The server closed the connection before accepting the password"),
                                result);
        return result;
    }
    if (result < 0) {
        reportConnectionFailure(context, ConnectionStep::Connect,
                                withFFmpegError(QStringLiteral("No answer from ") + address + QLatin1Char(' '), result),
                                result);
        return result;
    }
    const ShoutcastStream stream{settings.name, settings.genre, settings.url, settings.description,
                                 context.codecParameters->bit_rate, QString::fromLatin1(settings.codec.contentType)};
    result = sendAll(connection, shoutcastHeaders(stream));
    if (result < 0)
        reportConnectionFailure(context, ConnectionStep::Send,
                                withFFmpegError(QStringLiteral("Could not send the stream's headers "), result), result);
    return result;
}

// FFmpeg has no Shoutcast source protocol: a TCP connection to the port above
// the server's, the handshake written and read on it, then the muxer's output.
int openShoutcastConnection(StreamContext &context, AVIOContext **connection)
{
    if (context.settings.codec.oggStream) {
        context.owner->reportStreamError(context.index, QStringLiteral("Shoutcast servers take no %1 streams: choose MP3 or AAC")
                                                            .arg(context.settings.codec.shownName));
        return AVERROR(EINVAL);
    }
    const QString url = context.settings.outputUrl();
    const QString address = QUrl(url).authority();
    AVDictionary *options = nullptr;
    av_dict_set(&options, "rw_timeout", connectionTimeoutMicroseconds, 0);
    const AVIOInterruptCB interrupt{interruptStream, &context};
    int result = avio_open2(connection, utf8(url).constData(), AVIO_FLAG_READ_WRITE, &interrupt, &options);
    av_dict_free(&options);
    if (result < 0) {
        reportConnectionFailure(context, ConnectionStep::Connect,
                                withFFmpegError(QStringLiteral("Could not connect to ") + address + QLatin1Char(' '), result),
                                result);
        return result;
    }
    result = shakeHandsAsShoutcastSource(context, *connection, address);
    if (result < 0)
        avio_closep(connection);
    return result;
}

} // namespace

int openSourceConnection(StreamContext &context, AVIOContext **connection)
{
    const StreamSettings &settings = context.settings;
    if (settings.protocol == QLatin1String("https"))
        return openVerifiedConnection(context, connection);
    if (settings.isShoutcast())
        return openShoutcastConnection(context, connection);
    return openConnection(context, connection, settings.outputUrl(), icecastOptions(settings));
}
