#pragma once

// What the web face reads off the wire, as pure functions: an HTTP/1.1 request head within a
// fixed bound, the route a method and path ask for, the names the archive route may serve, the
// bearer token compared in constant time, and the address the server listens on. Everything a
// client sends passes through here first, so the fuzz target runs exactly these.

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>

namespace web {

// The request line and headers together, the final empty line included; beyond it: 431.
constexpr int kMaxHeadBytes = 8 * 1024;
// A command's body (sounder names, frequencies); only POST may carry one.
constexpr int kMaxBodyBytes = 4 * 1024;
// Headers in one request; more is a client up to no good.
constexpr int kMaxHeaders = 64;

struct Request {
    QByteArray method;
    QByteArray target;                        // as sent
    QString path;                             // percent-decoded, always starting with '/'
    std::map<QString, QString> query;         // decoded; the last of a repeated name counts
    std::map<QByteArray, QByteArray> headers; // names in lower case, values trimmed
    qint64 contentLength = 0;
    bool keepAlive = true;
    QByteArray body;
};

enum class HeadState {
    Incomplete, // no empty line yet, and still within kMaxHeadBytes
    Complete,
    Refused, // answer refusal and close the connection
};

struct Head {
    HeadState state = HeadState::Incomplete;
    Request request;   // when Complete
    int headBytes = 0; // when Complete: where the body starts
    int refusal = 0;   // when Refused: 400, 413, 431, 501 or 505
};

// Reads the head at the start of buffer (everything the connection has received).
Head ParseHead(const QByteArray& buffer);

// "%41b" -> "Ab"; nothing when an escape is broken or the bytes are not UTF-8.
std::optional<QString> PercentDecoded(QByteArrayView text);

enum class Route {
    Page,
    Script,
    Style,
    Status,
    Sounders,
    Scaled,
    Ionograms,
    LatestIonogram,
    Events,
    Network,
    NetworkLand,
    Archive,
    Start,
    Stop,
    Follow,
    Listen,
    NotFound,
    WrongMethod,
};

struct Resolved {
    Route route = Route::NotFound;
    QString archiveName; // Route::Archive: a name that PlainArchiveName accepts
};

// The route of a method and decoded path. HEAD is served as GET; commands take POST only.
Resolved Resolve(const QByteArray& method, const QString& path);
// Whether the route changes what the station does (and so needs the token).
bool IsCommand(Route route);

// A name the archive may hold: no separator, no "." or "..", no NUL, not hidden, with a suffix
// the archive writes (.png, .csv.gz, .csv). The file must still be listed in the folder.
bool PlainArchiveName(const QString& name);
// The Content-Type of an archive or page file, by its suffix.
QByteArray ContentTypeOf(const QString& name);

// The token of "Authorization: Bearer TOKEN"; nothing without one.
std::optional<QByteArray> BearerToken(const Request& request);
// Whether given equals expected, in a time that depends on neither (both are hashed first).
bool SameToken(const QByteArray& given, const QByteArray& expected);

struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
};
// "PORT", "ADDRESS:PORT" or "[IPV6]:PORT"; the address defaults to 127.0.0.1. Nothing when the
// text is none of these or the port is not 1 to 65535.
std::optional<ListenAddress> ParseListenAddress(const QString& text);

// The reason phrase of the codes the server answers.
QByteArray ReasonPhrase(int status);

} // namespace web
