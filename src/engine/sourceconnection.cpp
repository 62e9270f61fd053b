#include "sourceconnection.h"

#include "ffmpegerror.h"
#include "icecasturl.h"
#include "pipelinecontext.h"
#include "player.h"
#include "shoutcasthandshake.h"
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

AVDictionary *icecastOptions(const Player &player, const Codec &codec)
{
    AVDictionary *options = nullptr;
    av_dict_set(&options, "content_type", codec.contentType, 0);
    av_dict_set(&options, "ice_genre", utf8(player.genre()).constData(), 0);
    av_dict_set(&options, "ice_name", utf8(player.streamName()).constData(), 0);
    av_dict_set(&options, "ice_description", utf8(player.description()).constData(), 0);
    av_dict_set(&options, "ice_url", utf8(player.url()).constData(), 0);
    av_dict_set(&options, "rw_timeout", connectionTimeoutMicroseconds, 0);
    return options;
}

// The header lines that the icecast protocol adds to its request; it leaves
// out the empty fields.
QByteArray iceHeaders(const Player &player)
{
    QByteArray headers;
    const auto add = [&headers](const char *name, const QString &value) {
        if (!value.isEmpty())
            headers += QByteArray(name) + ": " + utf8(value) + "\r\n";
    };
    add("Ice-Name", player.streamName());
    add("Ice-Description", player.description());
    add("Ice-URL", player.url());
    add("Ice-Genre", player.genre());
    add("Ice-Public", QStringLiteral("0"));
    return headers;
}

// FFmpeg's https protocol acting as the icecast protocol does, so that the
// server and its listeners see the same stream. Without chunked_post=0 the
// chunk framing would reach the listeners inside the MP3; Expect: 100-continue
// lets the server refuse the source before any audio is sent.
AVDictionary *verifiedHttpsOptions(const Player &player, const Codec &codec, const QString &caFile)
{
    AVDictionary *options = nullptr;
    av_dict_set(&options, "method", "PUT", 0);
    av_dict_set(&options, "auth_type", "basic", 0);
    av_dict_set(&options, "content_type", codec.contentType, 0);
    av_dict_set(&options, "headers", iceHeaders(player).constData(), 0);
    av_dict_set(&options, "chunked_post", "0", 0);
    av_dict_set(&options, "send_expect_100", "1", 0);
    av_dict_set(&options, "tls_verify", "1", 0);
    if (!caFile.isEmpty())
        av_dict_set(&options, "ca_file", utf8(caFile).constData(), 0);
    av_dict_set(&options, "rw_timeout", connectionTimeoutMicroseconds, 0);
    return options;
}

int openConnection(PipelineContext &context, AVIOContext **connection, const QString &address,
                   AVDictionary *options)
{
    const AVIOInterruptCB interrupt{interruptRun, &context};
    const int result = avio_open2(connection, utf8(address).constData(), AVIO_FLAG_WRITE, &interrupt, &options);
    av_dict_free(&options);
    if (result < 0)
        reportConnectionFailure(context, ConnectionStep::Connect,
                                QStringLiteral("Could not open output ")
                                    + withHiddenPassword(context.owner->outputUrl()),
                                result);
    return result;
}

// The icecast protocol neither verifies the server's certificate nor passes
// TLS options down to its TLS layer, hence the https protocol. That layer
// trusts either the system's authorities or one given file, so a certificate
// file goes into a bundle with the system's authorities.
int openVerifiedConnection(PipelineContext &context, AVIOContext **connection)
{
    Player &player = *context.owner;
    const QString certificateFile = player.certificateFile();
    QTemporaryFile trustBundle;
    QString caFile;
    if (!certificateFile.isEmpty()) {
        const int result = writeTrustBundle(certificateFile, trustBundle);
        if (result < 0) {
            player.reportError(withFFmpegError(
                QStringLiteral("Could not load certificate file ") + certificateFile + QLatin1Char(' '), result));
            return result;
        }
        caFile = trustBundle.fileName();
    }
    return openConnection(context, connection, withHttpsScheme(player.outputUrl()),
                          verifiedHttpsOptions(player, context.codec, caFile));
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
int shakeHandsAsShoutcastSource(PipelineContext &context, AVIOContext *connection, const QString &address)
{
    Player &player = *context.owner;
    int result = sendAll(connection, shoutcastPasswordLine(player.password()));
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
    const ShoutcastStream stream{player.streamName(), player.genre(), player.url(), player.description(),
                                 context.encoder->bit_rate, QString::fromLatin1(context.codec.contentType)};
    result = sendAll(connection, shoutcastHeaders(stream));
    if (result < 0)
        reportConnectionFailure(context, ConnectionStep::Send,
                                withFFmpegError(QStringLiteral("Could not send the stream's headers "), result), result);
    return result;
}

// FFmpeg has no Shoutcast source protocol: a TCP connection to the port above
// the server's, the handshake written and read on it, then the muxer's output.
int openShoutcastConnection(PipelineContext &context, AVIOContext **connection)
{
    if (context.codec.oggStream) {
        context.owner->reportError(
            QStringLiteral("Shoutcast servers take no %1 streams: choose MP3 or AAC").arg(context.codec.shownName));
        return AVERROR(EINVAL);
    }
    const QString url = context.owner->outputUrl();
    const QString address = QUrl(url).authority();
    AVDictionary *options = nullptr;
    av_dict_set(&options, "rw_timeout", connectionTimeoutMicroseconds, 0);
    const AVIOInterruptCB interrupt{interruptRun, &context};
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

int openSourceConnection(PipelineContext &context, AVIOContext **connection)
{
    const Player &player = *context.owner;
    if (player.protocol() == QLatin1String("https"))
        return openVerifiedConnection(context, connection);
    if (player.protocol() == QLatin1String("shoutcast"))
        return openShoutcastConnection(context, connection);
    return openConnection(context, connection, player.outputUrl(), icecastOptions(player, context.codec));
}
